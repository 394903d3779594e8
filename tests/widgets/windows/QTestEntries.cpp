// The Windows toolkit's static Qt has no Qt Test library. The widget tests need of it only the
// event helpers (clicks, key presses), which live inline in Qt Test's headers; the Windows build
// compiles them from the headers of the same Qt version and links these few entries behind them.
// Defaults as in Qt Test without its environment settings: no extra event delay.
#include <QtTest/qtest.h>

namespace QTestPrivate {
Qt::MouseButtons qtestMouseButtons = Qt::NoButton;
}

namespace QTest {

int lastMouseTimestamp = 0;

int defaultMouseDelay() {
    return -1;
}

int defaultKeyDelay() {
    return -1;
}

// ASCII only, which is all the tests type: the keys carrying a character, and the control
// characters that have a key of their own.
Qt::Key asciiToKey(char Ascii) {
    const auto c = static_cast<unsigned char>(Ascii);
    switch (c) {
    case 0x08:
        return Qt::Key_Backspace;
    case 0x09:
        return Qt::Key_Tab;
    case 0x0b:
        return Qt::Key_Backtab;
    case 0x0d:
        return Qt::Key_Return;
    case 0x1b:
        return Qt::Key_Escape;
    case 0x7f:
        return Qt::Key_Delete;
    default:
        break;
    }
    if (c >= 'a' && c <= 'z') return Qt::Key(c - 'a' + 'A');
    if (c >= 0x20 && c < 0x7f) return Qt::Key(c);
    return Qt::Key_unknown;
}

char keyToAscii(Qt::Key Key) {
    switch (Key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0d;
    case Qt::Key_Escape:
        return 0x1b;
    default:
        break;
    }
    if (Key >= Qt::Key_A && Key <= Qt::Key_Z) return char(Key - Qt::Key_A + 'a');
    if (Key >= Qt::Key_Space && Key <= Qt::Key_AsciiTilde) return char(Key);
    return 0;
}

} // namespace QTest
