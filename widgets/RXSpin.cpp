#include "widgets/RXSpin.h"

#include "widgets/RxNumber.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHideEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <cmath>

namespace {

// Width of the 3-D client edge around a single-bordered field; the button rectangles below
// are laid out in the client area inside it.
constexpr int kClientEdge = 2;
constexpr int kBorderHeight = 1;

// Window deactivation, popups and the menu bar take the focus away only for a while; the
// field keeps it as far as the user is concerned.
bool IsTemporaryReason(Qt::FocusReason Reason) {
    return Reason == Qt::ActiveWindowFocusReason || Reason == Qt::PopupFocusReason ||
           Reason == Qt::MenuBarFocusReason;
}

struct TFlagGuard {
    bool& Flag;
    explicit TFlagGuard(bool& F) : Flag(F) { Flag = true; }
    ~TFlagGuard() { Flag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;
};

} // namespace

TRxSpinEdit::TRxSpinEdit(QWidget* Parent) : QLineEdit(Parent) {
    setText(QStringLiteral("0"));
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, [this] { Change(); });
    // A window that comes back with another of its controls focused (moved there while it was
    // away) sends this field nothing.
    if (auto* App = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        FFocusWatch =
            connect(App, &QApplication::focusChanged, this, [this](QWidget* Old, QWidget* Now) {
                // The move that parked the focus (to the menu bar, say) is not one of these.
                if (Old != this && Now && FFocusParked && Now != this && !isAncestorOf(Now) &&
                    Now->window() == window())
                    ParkedFocusGone();
            });
    }
    ApplyAlignment();
    UpdateMinimumHeight();
    RebuildButton();
    LayoutButton();
    UpdateTextRect();
}

TRxSpinEdit::~TRxSpinEdit() {
    FDestroying = true;
    FStepping = true;
    disconnect(this, &QLineEdit::textChanged, this, nullptr);
    disconnect(FFocusWatch);
    ReleaseButtons();
}

// ---- value ----------------------------------------------------------------------------------

Extended TRxSpinEdit::FallbackValue() const {
    return FValueType == vtFloat ? FMinValue : std::trunc(FMinValue);
}

Extended TRxSpinEdit::Value() const {
    const QString Text = text();
    switch (FValueType) {
    case vtFloat:
        if (auto V = rxnum::TextToFloat(Text, rxnum::DecimalSeparator())) return *V;
        break;
    case vtHex:
        if (auto V = rxnum::HexToInt(Text)) return *V;
        break;
    case vtInteger:
        if (auto V = rxnum::TextToInt(Text)) return *V;
        break;
    }
    return FallbackValue();
}

Extended TRxSpinEdit::ClampValue(Extended V) const {
    if (FMinValue == FMaxValue) return V;
    if (V < FMinValue) return FMinValue;
    if (V > FMaxValue) return FMaxValue;
    return V;
}

void TRxSpinEdit::SetValue(Extended V) {
    V = ClampValue(V);
    if (!std::isfinite(V)) return; // no text stands for it
    QString Text;
    switch (FValueType) {
    case vtFloat:
        Text = rxnum::FormatFixed(V, FDecimal, rxnum::DecimalSeparator());
        break;
    case vtHex:
        Text = rxnum::FormatHex(*rxnum::RoundToInt64(V));
        break;
    case vtInteger:
        Text = QString::number(qint64(*rxnum::RoundToInt64(V)));
        break;
    }
    if (Text != text()) setText(Text);
}

int32_t TRxSpinEdit::IntegerValue() const {
    return int32_t(uint32_t(uint64_t(rxnum::TruncToInt64(Value()))));
}

void TRxSpinEdit::SetValueType(TValueType Type) {
    if (Type == FValueType) return;
    FValueType = Type;
    SetValue(Value());
    if (FValueType == vtInteger || FValueType == vtHex) {
        FIncrement = std::nearbyint(FIncrement);
        if (FIncrement == 0) FIncrement = 1;
    }
}

void TRxSpinEdit::SetDecimal(uint8_t Decimals) {
    if (Decimals == FDecimal) return;
    FDecimal = Decimals;
    SetValue(Value());
}

// ---- stepping and change --------------------------------------------------------------------

void TRxSpinEdit::Change() {
    if (!FStepping && FOnChange) FOnChange(this);
}

void TRxSpinEdit::Step(bool Up) {
    if (isReadOnly()) {
        RxBeep();
        return;
    }
    const QString OldText = text();
    {
        TFlagGuard Guard(FStepping);
        SetValue(Up ? Value() + FIncrement : Value() - FIncrement);
    }
    if (QString::compare(text(), OldText, Qt::CaseInsensitive) != 0) {
        setModified(true);
        Change();
    }
    const TNotifyEvent& Handler = Up ? FOnTopClick : FOnBottomClick;
    if (Handler) Handler(this);
}

void TRxSpinEdit::StepUp(QObject*) {
    Step(true);
}

void TRxSpinEdit::StepDown(QObject*) {
    Step(false);
}

void TRxSpinEdit::UpDownClick(QObject* Sender, TUDBtnType Button) {
    if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible() && !hasFocus())
        setFocus(Qt::MouseFocusReason);
    if (Button == btNext)
        StepUp(Sender);
    else
        StepDown(Sender);
}

// ---- keyboard -------------------------------------------------------------------------------

bool TRxSpinEdit::AcceptsKey(QChar Key) {
    const char16_t C = Key.unicode();
    const QString& Current = FFilterText ? *FFilterText : text();
    bool Accepted = C == '+' || C == '-' || (C >= '0' && C <= '9');
    if (FValueType == vtFloat) {
        const QString Separator = rxnum::DecimalSeparator();
        if (Separator.size() == 1 && Key == Separator[0] && !Current.contains(Separator))
            Accepted = true;
        if ((C == 'E' || C == 'e') && !Current.toUpper().contains(u'E')) Accepted = true;
    } else if (FValueType == vtHex) {
        if ((C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f')) Accepted = true;
    }
    Accepted = Accepted || C < 32;
    if (!FEditorEnabled && Accepted && (C >= 32 || C == 8)) Accepted = false;
    return Accepted;
}

bool TRxSpinEdit::AcceptsText(const QString& Insert, bool ReplaceSelection) {
    // Each character is judged against the text the ones before it would have made, as if
    // typed; the first one against the text as it stands, selection included.
    QString Probe = text();
    qsizetype Pos = cursorPosition();
    qsizetype Replaced = 0;
    if (ReplaceSelection && hasSelectedText()) {
        Pos = selectionStart();
        Replaced = selectionLength();
    }
    struct TReset {
        const QString*& Ptr;
        ~TReset() { Ptr = nullptr; }
    } Reset{FFilterText};
    FFilterText = &Probe;
    for (QChar C : Insert) {
        if (C.unicode() < 32 || !AcceptsKey(C)) return false;
        Probe.replace(Pos, Replaced, C);
        ++Pos;
        Replaced = 0;
    }
    return true;
}

bool TRxSpinEdit::IsEditingDeleteKey(const QKeyEvent* Event) const {
    return Event->key() == Qt::Key_Delete || Event->matches(QKeySequence::Delete) ||
           Event->matches(QKeySequence::DeleteEndOfWord) ||
           Event->matches(QKeySequence::DeleteStartOfWord) ||
           Event->matches(QKeySequence::DeleteEndOfLine) ||
           Event->matches(QKeySequence::DeleteCompleteLine);
}

void TRxSpinEdit::keyPressEvent(QKeyEvent* Event) {
    const int Key = Event->key();
    if (FArrowKeys && (Key == Qt::Key_Up || Key == Qt::Key_Down)) {
        if (Key == Qt::Key_Up)
            StepUp(this);
        else
            StepDown(this);
        Event->accept();
        return;
    }
    if (Event->matches(QKeySequence::Cut)) {
        Cut();
        Event->accept();
        return;
    }
    if (Event->matches(QKeySequence::Paste)) {
        Paste();
        Event->accept();
        return;
    }
    if (IsEditingDeleteKey(Event)) {
        // Delete edits the text like backspace does, so it obeys the same gate; it types no
        // character, so the key filter does not apply.
        if (!FEditorEnabled) {
            RxBeep();
            Event->accept();
            return;
        }
        QLineEdit::keyPressEvent(Event);
        return;
    }
    for (QChar C : Event->text()) {
        if (C.unicode() == 0x7F) continue; // some platforms attach DEL to editing keys
        if (!AcceptsKey(C)) {
            RxBeep();
            Event->accept();
            return;
        }
    }
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
        // A dialog key for the window (default button); never part of the text.
        Event->ignore();
        return;
    }
    QLineEdit::keyPressEvent(Event);
    if (Key == Qt::Key_Escape) Event->ignore(); // the window may act on it as well
}

void TRxSpinEdit::inputMethodEvent(QInputMethodEvent* Event) {
    // The base edit commits even into a read-only field.
    if (!Event->commitString().isEmpty() && (isReadOnly() || !AcceptsText(Event->commitString()))) {
        if (!isReadOnly()) RxBeep();
        Event->setCommitString(QString());
    }
    QLineEdit::inputMethodEvent(Event);
}

void TRxSpinEdit::mouseReleaseEvent(QMouseEvent* Event) {
    // The base edit pastes the primary selection on a middle click by itself, past the gates.
    if (Event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        if (!isReadOnly()) {
            deselect();
            PasteFrom(QClipboard::Selection);
        }
        Event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(Event);
}

void TRxSpinEdit::dropEvent(QDropEvent* Event) {
    // Dropped text lands at the drop point beside what is there, like a paste without
    // selection.
    const QMimeData* Data = Event->mimeData();
    if (!CanEdit() || Data == nullptr || !AcceptsText(Data->text(), false)) {
        if (CanEdit()) RxBeep();
        Event->ignore();
        return;
    }
    QLineEdit::dropEvent(Event);
}

// ---- focus ----------------------------------------------------------------------------------

void TRxSpinEdit::focusInEvent(QFocusEvent* Event) {
    const Qt::FocusReason Reason = Event->reason();
    // Focus given back after a temporary loss is no entry; the first focus of a newly
    // activated window is.
    const bool Entering = !(FFocusParked && IsTemporaryReason(Reason));
    FFocusParked = false;
    // Only a left press places the cursor itself; a right click comes for the context menu,
    // which then acts on the whole number.
    const bool LeftPress =
        Reason == Qt::MouseFocusReason && (QGuiApplication::mouseButtons() & Qt::LeftButton);
    if (FAutoSelect && Entering && !LeftPress) selectAll();
    if (!FAutoSelect && (Reason == Qt::TabFocusReason || Reason == Qt::BacktabFocusReason ||
                         Reason == Qt::ShortcutFocusReason)) {
        // The base edit would select everything on these.
        QFocusEvent Plain(QEvent::FocusIn, Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&Plain);
        return;
    }
    QLineEdit::focusInEvent(Event);
}

void TRxSpinEdit::focusOutEvent(QFocusEvent* Event) {
    QLineEdit::focusOutEvent(Event);
    if (IsTemporaryReason(Event->reason())) {
        FFocusParked = true;
        return;
    }
    FFocusParked = false;
    ClampOnLeaving();
}

void TRxSpinEdit::ClampOnLeaving() {
    const Extended V = Value();
    if (ClampValue(V) != V) SetValue(V);
}

// Focus parked while the window was away that will not come back: the toolkit moves a window's
// focus without telling the field when the field is disabled or hidden while the window is
// inactive, so the field leaves here rather than in a focus-out that never comes.
void TRxSpinEdit::ParkedFocusGone() {
    FFocusParked = false;
    ClampOnLeaving();
}

void TRxSpinEdit::hideEvent(QHideEvent* Event) {
    QLineEdit::hideEvent(Event);
    // A minimised window hides its controls spontaneously, and a closed one is hidden before
    // them; both give the focus back when shown again.
    if (FFocusParked && !Event->spontaneous() && window()->isVisible()) ParkedFocusGone();
}

// ---- cut and paste --------------------------------------------------------------------------

void TRxSpinEdit::Cut() {
    if (CanEdit()) QLineEdit::cut();
}

void TRxSpinEdit::Paste() {
    PasteFrom(QClipboard::Clipboard);
}

void TRxSpinEdit::PasteFrom(QClipboard::Mode Mode) {
    if (!CanEdit()) return;
    const QString Text = QGuiApplication::clipboard()->text(Mode);
    if (!AcceptsText(Text)) {
        RxBeep();
        return;
    }
    if (Mode == QClipboard::Clipboard)
        QLineEdit::paste(); // its own undo step
    else
        insert(Text);
}

QMenu* TRxSpinEdit::CreateContextMenu() {
    QMenu* Menu = createStandardContextMenu();
    for (QAction* Action : Menu->actions()) {
        if (disconnect(Action, &QAction::triggered, this, &QLineEdit::cut) ||
            disconnect(Action, SIGNAL(triggered()), this, SLOT(cut()))) {
            connect(Action, &QAction::triggered, this, [this] { Cut(); });
        } else if (disconnect(Action, &QAction::triggered, this, &QLineEdit::paste) ||
                   disconnect(Action, SIGNAL(triggered()), this, SLOT(paste()))) {
            connect(Action, &QAction::triggered, this, [this] { Paste(); });
        } else if (!FEditorEnabled && Action->text() == QLineEdit::tr("Delete")) {
            Action->setEnabled(false);
        }
    }
    return Menu;
}

void TRxSpinEdit::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu* Menu = CreateContextMenu();
    Menu->setAttribute(Qt::WA_DeleteOnClose);
    Menu->popup(Event->globalPos());
}

// ---- button and layout ----------------------------------------------------------------------

void TRxSpinEdit::SetArrowKeys(bool Enabled) {
    FArrowKeys = Enabled;
    LayoutButton();
    UpdateTextRect();
}

void TRxSpinEdit::SetButtonKind(TSpinButtonKind Kind) {
    const TSpinButtonKind Old = FButtonKind;
    FButtonKind = Kind;
    if (FButtonKind != Old) {
        RebuildButton();
        LayoutButton();
        UpdateTextRect();
    }
}

void TRxSpinEdit::SetAlignment(TAlignment Value) {
    if (Value == FAlignment) return;
    FAlignment = Value;
    ApplyAlignment();
    UpdateTextRect();
}

void TRxSpinEdit::ApplyAlignment() {
    // Qt mirrors left and right by itself for right-to-left text.
    Qt::Alignment Horizontal = Qt::AlignLeft;
    if (FAlignment == taRightJustify) Horizontal = Qt::AlignRight;
    if (FAlignment == taCenter) Horizontal = Qt::AlignHCenter;
    setAlignment(Horizontal | Qt::AlignVCenter);
}

void TRxSpinEdit::ReleaseButtons() {
    delete FButton;
    FButton = nullptr;
    delete FBtnWindow;
    FBtnWindow = nullptr;
    delete FUpDown;
    FUpDown = nullptr;
}

void TRxSpinEdit::RebuildButton() {
    if (FDestroying) return;
    ReleaseButtons();

    if (FButtonKind == bkStandard) {
        FUpDown = new TRxUpDown(this);
        FUpDown->setGeometry(0, 0, DefaultButtonWidth(), height());
        FUpDown->SetOnClick([this](QObject* Sender, TUDBtnType B) { UpDownClick(Sender, B); });
        FUpDown->show();
    } else {
        FBtnWindow = new QWidget(this);
        FBtnWindow->setCursor(Qt::ArrowCursor);
        FBtnWindow->setGeometry(0, 0, height(), height());
        FBtnWindow->show();
        FButton = new TRxSpinButton(FBtnWindow);
        FButton->SetFocusControl(this);
        FButton->SetOnTopClick([this](QObject* Sender) { StepUp(Sender); });
        FButton->SetOnBottomClick([this](QObject* Sender) { StepDown(Sender); });
        FButton->setGeometry(0, 0, FBtnWindow->width(), FBtnWindow->height());
        FButton->show();
    }
}

void TRxSpinEdit::LayoutButton() {
    const bool RightToLeft = layoutDirection() == Qt::RightToLeft;
    const int W = width(), H = height();
    if (FUpDown) {
        const int Bw = DefaultButtonWidth();
        FUpDown->setGeometry(RightToLeft ? kClientEdge : W - kClientEdge - Bw, kClientEdge, Bw,
                             H - 2 * kClientEdge);
    } else if (FBtnWindow) {
        // Client coordinates: left W - H - 1 (or -1 mirrored), top -1, side H - 3.
        const int Left = RightToLeft ? -1 : W - H - 1;
        const int Side = std::max(H - 3, 0);
        FBtnWindow->setGeometry(Left + kClientEdge, -1 + kClientEdge, Side, Side);
        FButton->setGeometry(0, 0, Side, Side);
    }
}

void TRxSpinEdit::UpdateTextRect() {
    const int ButtonWidth = FUpDown   ? FUpDown->width()
                            : FButton ? FButton->width()
                                      : DefaultButtonWidth();
    if (layoutDirection() == Qt::RightToLeft)
        setTextMargins(ButtonWidth + 1, 0, 1, 0);
    else
        setTextMargins(0, 0, ButtonWidth + 2, 0);
}

int TRxSpinEdit::MinimumFieldHeight() const {
    return QFontMetrics(font()).height() + 4 * kBorderHeight + 1;
}

void TRxSpinEdit::UpdateMinimumHeight() {
    setMinimumHeight(MinimumFieldHeight());
}

void TRxSpinEdit::resizeEvent(QResizeEvent* Event) {
    QLineEdit::resizeEvent(Event);
    const int MinHeight = MinimumFieldHeight();
    if (height() < MinHeight) {
        resize(width(), MinHeight);
        return;
    }
    LayoutButton();
    UpdateTextRect();
}

void TRxSpinEdit::changeEvent(QEvent* Event) {
    QLineEdit::changeEvent(Event);
    switch (Event->type()) {
    case QEvent::EnabledChange:
        if (FFocusParked && !isEnabled()) ParkedFocusGone();
        if (FUpDown) {
            FUpDown->setEnabled(isEnabled());
            LayoutButton();
        }
        if (FButton) FButton->setEnabled(isEnabled());
        break;
    case QEvent::FontChange:
        UpdateMinimumHeight();
        LayoutButton();
        UpdateTextRect();
        break;
    case QEvent::LayoutDirectionChange:
    case QEvent::StyleChange:
        LayoutButton();
        UpdateTextRect();
        break;
    default:
        break;
    }
}
