// Exception classes of the picture layer. Every class carries a readable message; EAbort is the
// silent one that callers use to cancel an operation without an error.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(const QString& Message);
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Cancels the running operation quietly; whoever runs it treats it as "nothing done".
class EAbort : public Exception {
public:
    EAbort();
};

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

// A codec failure; ErrorCode is the library's message code.
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int ErrorCode);
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// FileName is shown as given (callers pass the expanded path); SystemError is an errno value.
class EFCreateError : public EStreamError {
public:
    EFCreateError(const QString& FileName, int SystemError);
};

class EFOpenError : public EStreamError {
public:
    EFOpenError(const QString& FileName, const QString& SystemMessage);
};

class EWriteError : public EStreamError {
public:
    EWriteError();
};
