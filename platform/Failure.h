// Failure: the one exception type of the program, a number and a description.
#pragma once

#include <QString>
#include <exception>

namespace pradelux {

// Failure numbers the program raises itself; they follow the numbering users
// of automation clients know.
namespace failure {
constexpr int kInvalidArgument = 5;
constexpr int kSubscriptOutOfRange = 9;
constexpr int kTypeMismatch = 13;
constexpr int kFileNotFound = 53;
constexpr int kPermissionDenied = 70;
constexpr int kPathFileAccess = 75;
constexpr int kPathNotFound = 76;
constexpr int kObjectRequired = 424;
constexpr int kCannotCreateObject = 429;
constexpr int kNoSuchMember = 438;
constexpr int kAutomationError = 440;
constexpr int kNamedArgumentNotFound = 448;
constexpr int kServerUnavailable = 462;
constexpr int kInternal = 51;
constexpr int kDivisionByZero = 11;
constexpr int kDiskFull = 61;
constexpr int kObjectNotSet = 91;
// What a row says of a presentation protected by a password, as the window
// and the command line say it; the report marks such a row apart from a
// damaged one by these words.
inline const QString kProtectedByPassword = QStringLiteral("it is protected by a password");
// What a row says when the passwords it was given do not open it; the
// window then asks once more.
inline const QString kNoPasswordOpens = QStringLiteral("none of the passwords given opens it");
} // namespace failure

class Failure : public std::exception
{
public:
    Failure(int number, QString description) : m_number(number), m_description(std::move(description))
    {
        m_what = m_description.toUtf8();
    }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

} // namespace pradelux
