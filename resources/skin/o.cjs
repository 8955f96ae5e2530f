/* Pradelux skin "o": a calm grey face with flat, rounded buttons. */
QWidget#Form1 { background-color: #e9ebee; }
QPushButton {
    background-color: #f7f8fa;
    color: #1d2430;
    border: 1px solid #9aa3b0;
    border-radius: 4px;
    padding: 2px 8px;
}
QPushButton:hover { background-color: #dfe8f5; border-color: #4a78c2; }
QPushButton:pressed { background-color: #c9d8ef; }
QGroupBox#Frame2 {
    background-color: #e9ebee;
    border: 1px solid #9aa3b0;
    border-radius: 4px;
    margin-top: 10px;
}
QGroupBox#Frame2::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
QTreeWidget#ListView1 { background-color: #ffffff; border: 1px solid #9aa3b0; }
QProgressBar#ProgressBar1 { border: 1px solid #9aa3b0; border-radius: 4px; background: #ffffff; text-align: center; }
QProgressBar#ProgressBar1::chunk { background-color: #7fa7e0; }
