/* Pradelux skin "o": a calm grey face with flat, rounded buttons. Every
   colour is its own, so a dark desktop theme leaves every text readable. */
QWidget#Form1 { background-color: #e9ebee; color: #1d2430; }
QPushButton {
    background-color: #f7f8fa;
    color: #1d2430;
    border: 1px solid #9aa3b0;
    border-radius: 4px;
    padding: 2px 8px;
}
QPushButton:hover { background-color: #dfe8f5; border-color: #4a78c2; }
QPushButton:pressed { background-color: #c9d8ef; }
QPushButton:focus { border: 2px solid #1f5fbf; background-color: #eaf1fc; }
QGroupBox#Frame2 {
    background-color: #e9ebee;
    color: #1d2430;
    border: 1px solid #9aa3b0;
    border-radius: 4px;
    margin-top: 10px;
}
QGroupBox#Frame2::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; color: #1d2430; }
QLineEdit { background-color: #ffffff; color: #1d2430; border: 1px solid #9aa3b0; border-radius: 3px;
            selection-background-color: #1f5fbf; selection-color: #ffffff; }
QLineEdit:focus { border: 2px solid #1f5fbf; }
QTableWidget#ListView1 { background-color: #ffffff; color: #1d2430; border: 1px solid #9aa3b0;
                         selection-background-color: #1f5fbf; selection-color: #ffffff; }
QTableWidget#ListView1:focus { border: 2px solid #1f5fbf; }
QHeaderView { background-color: #f2f4f7; }
QHeaderView::section { background-color: #f2f4f7; color: #1d2430; border: 0; border-bottom: 1px solid #9aa3b0;
                       padding: 2px 4px; }
QProgressBar#ProgressBar1 { border: 1px solid #9aa3b0; border-radius: 4px; background: #ffffff; color: #1d2430;
                            text-align: center; }
QProgressBar#ProgressBar1::chunk { background-color: #a9c4ec; }
QToolTip { background-color: #ffffe8; color: #1d2430; border: 1px solid #9aa3b0; }
