#include "imaging/Exceptions.h"

#include <cstring>

Exception::Exception(const QString& Message) : FMessage(Message), FUtf8(Message.toUtf8()) {}

EAbort::EAbort() : Exception(QStringLiteral("Operation aborted")) {}

EJPEG::EJPEG(int ErrorCode)
    : EInvalidGraphic(QStringLiteral("JPEG error #%1").arg(ErrorCode)), FErrorCode(ErrorCode) {}

EFCreateError::EFCreateError(const QString& FileName, int SystemError)
    : EStreamError(QStringLiteral("Cannot create file \"%1\". %2")
                       .arg(FileName, QString::fromLocal8Bit(std::strerror(SystemError)))) {}

EFOpenError::EFOpenError(const QString& FileName, const QString& SystemMessage)
    : EStreamError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, SystemMessage)) {}

EWriteError::EWriteError() : EStreamError(QStringLiteral("Stream write error")) {}
