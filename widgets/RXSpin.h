// Numeric spin edit and its two step buttons: the diagonal TRxSpinButton and the standard
// TRxUpDown. The edit keeps no number of its own: its text is the value.
#pragma once

#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

class QMenu;
class QTimer;

using Extended = long double;

using TNotifyEvent = std::function<void(QObject* Sender)>;

enum TValueType { vtInteger, vtFloat, vtHex };
enum TSpinButtonKind { bkStandard, bkDiagonal };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TUDBtnType { btNext, btPrev };
enum TSpinButtonState { sbNotDown, sbTopDown, sbBottomDown };

using TUDClickEvent = std::function<void(QObject* Sender, TUDBtnType Button)>;

// The default message beep. Every refusal of the spin controls sounds through here.
void RxBeep();
// Replaces what RxBeep does; an empty hook restores QApplication::beep().
void SetRxBeepHook(std::function<void()> Hook);

// Width of the standard step button: the style's scroll-bar extent, at most 15 pixels.
int DefaultButtonWidth();

// Square button split by the diagonal from its bottom-left to its top-right corner: the upper
// left half steps up, the lower right half steps down, with auto-repeat while held.
class TRxSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TRxSpinButton(QWidget* Parent = nullptr);
    ~TRxSpinButton() override;

    QImage UpGlyph() const { return FUpGlyph; }
    void SetUpGlyph(const QImage& Glyph); // a null image restores the built-in arrow
    QImage DownGlyph() const { return FDownGlyph; }
    void SetDownGlyph(const QImage& Glyph);
    static QImage BuiltInUpGlyph();
    static QImage BuiltInDownGlyph();

    QWidget* FocusControl() const { return FFocusControl; }
    void SetFocusControl(QWidget* Control) { FFocusControl = Control; }

    const TNotifyEvent& OnTopClick() const { return FOnTopClick; }
    void SetOnTopClick(TNotifyEvent Handler) { FOnTopClick = std::move(Handler); }
    const TNotifyEvent& OnBottomClick() const { return FOnBottomClick; }
    void SetOnBottomClick(TNotifyEvent Handler) { FOnBottomClick = std::move(Handler); }

    TSpinButtonState PressedPart() const { return FDown; }
    TSpinButtonState LastPressedPart() const { return FLastDown; }
    bool Tracking() const { return FDragging; }
    QTimer* RepeatTimer() const { return FRepeatTimer; }

    // Which half a point of a W x H button falls in; a point on the diagonal is in the top.
    static TSpinButtonState HalfAt(double X, double Y, int W, int H);

    // The pre-drawn picture for a state, as of the last paint.
    const QImage& StateImage(TSpinButtonState State) const { return FImages[State]; }
    // How many times the three pictures have been drawn.
    int RedrawCount() const { return FRedrawCount; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    bool event(QEvent* Event) override;

    // One tick of the repeat timer.
    virtual void TimerExpired();

private:
    void TopClick();
    void BottomClick();
    void AfterClick();
    bool LeftStillHeld() const;
    void Track(QPointF Pos);
    void DrawImages();
    void DrawImage(QImage& Image, TSpinButtonState State) const;

    TSpinButtonState FDown = sbNotDown;
    QImage FUpGlyph;
    QImage FDownGlyph;
    bool FDragging = false;
    bool FInvalidate = true;
    QImage FImages[3]; // indexed by TSpinButtonState
    QTimer* FRepeatTimer = nullptr;
    TSpinButtonState FLastDown = sbNotDown;
    QPointer<QWidget> FFocusControl;
    TNotifyEvent FOnTopClick;
    TNotifyEvent FOnBottomClick;
    bool FLeftHeld = false; // the left button went down on this button and is still down
    int FRedrawCount = 0;
};

// The standard up-down: two stacked arrows with press-and-hold repeat, kept at
// DefaultButtonWidth. Its position lives in -1..1 and returns to 0 after every report.
class TRxUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TRxUpDown(QWidget* Parent = nullptr);
    ~TRxUpDown() override;

    const TUDClickEvent& OnClick() const { return FOnClick; }
    void SetOnClick(TUDClickEvent Handler) { FOnClick = std::move(Handler); }

    static constexpr int MinPosition = -1;
    static constexpr int MaxPosition = 1;
    int Position() const { return FPosition; }
    void SetPosition(int Position);

    enum TArrow { arNone, arUp, arDown };
    TArrow PressedArrow() const { return FActive; }

protected:
    enum TScrollCode { scThumbPosition = 4, scEndScroll = 8 };
    // The arrow part's scroll report: the new position after an arrow moved it.
    virtual void Scroll(int Code, int Pos);

    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    TArrow ArrowAt(QPointF Pos) const;
    void ArrowStep();
    void RepeatTick();
    void EndPress();

    bool FChanging = false;
    int FPosition = 0;
    TArrow FHeld = arNone;   // arrow the press started on
    TArrow FActive = arNone; // arrow drawn pressed and repeating
    QTimer* FRepeatTimer = nullptr;
    TUDClickEvent FOnClick;
};

// Single-line numeric field with a step button inside its right edge.
class TRxSpinEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TRxSpinEdit(QWidget* Parent = nullptr);
    ~TRxSpinEdit() override;

    Extended Value() const;
    void SetValue(Extended V);
    int32_t IntegerValue() const;

    TValueType ValueType() const { return FValueType; }
    void SetValueType(TValueType Type);
    Extended MinValue() const { return FMinValue; }
    void SetMinValue(Extended V) { FMinValue = V; }
    Extended MaxValue() const { return FMaxValue; }
    void SetMaxValue(Extended V) { FMaxValue = V; }
    Extended Increment() const { return FIncrement; }
    void SetIncrement(Extended V) { FIncrement = V; }
    uint8_t Decimal() const { return FDecimal; }
    void SetDecimal(uint8_t Decimals);
    bool EditorEnabled() const { return FEditorEnabled; }
    void SetEditorEnabled(bool Enabled) { FEditorEnabled = Enabled; }
    bool ArrowKeys() const { return FArrowKeys; }
    void SetArrowKeys(bool Enabled);
    TSpinButtonKind ButtonKind() const { return FButtonKind; }
    void SetButtonKind(TSpinButtonKind Kind);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Enabled) { FAutoSelect = Enabled; }
    bool Stepping() const { return FStepping; }

    const TNotifyEvent& OnChange() const { return FOnChange; }
    void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }
    const TNotifyEvent& OnTopClick() const { return FOnTopClick; }
    void SetOnTopClick(TNotifyEvent Handler) { FOnTopClick = std::move(Handler); }
    const TNotifyEvent& OnBottomClick() const { return FOnBottomClick; }
    void SetOnBottomClick(TNotifyEvent Handler) { FOnBottomClick = std::move(Handler); }

    // The key filter: true when the typed character may reach the text.
    virtual bool AcceptsKey(QChar Key);
    virtual void StepUp(QObject* Sender);
    virtual void StepDown(QObject* Sender);

    // Cut and paste requests from the keyboard, the context menu and program code all come
    // here; they pass only while the editor is enabled and the field is not read-only, and a
    // paste only when the key filter takes every character of it.
    virtual void Cut();
    virtual void Paste();

    // True when Insert, typed over the selection (or at the cursor when ReplaceSelection is
    // false), would pass the key filter character by character. Control characters never do.
    bool AcceptsText(const QString& Insert, bool ReplaceSelection = true);

    // The context menu, its cut, paste and delete entries routed through the gates above.
    QMenu* CreateContextMenu();

    // Lowest height the field keeps: font height + 4 border heights + 1.
    int MinimumFieldHeight() const;

    TRxSpinButton* Button() const { return FButton; }
    QWidget* ButtonHost() const { return FBtnWindow; }
    TRxUpDown* UpDown() const { return FUpDown; }

protected:
    // The text changed; tells OnChange unless a step or the destructor is running.
    virtual void Change();

    void keyPressEvent(QKeyEvent* Event) override;
    void inputMethodEvent(QInputMethodEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    Extended ClampValue(Extended V) const;
    Extended FallbackValue() const;
    void Step(bool Up);
    void UpDownClick(QObject* Sender, TUDBtnType Button);
    void RebuildButton();
    void ReleaseButtons();
    void LayoutButton();
    void UpdateTextRect();
    void UpdateMinimumHeight();
    void ApplyAlignment();
    bool IsEditingDeleteKey(const QKeyEvent* Event) const;
    bool CanEdit() const { return FEditorEnabled && !isReadOnly(); }
    void PasteFrom(QClipboard::Mode Mode);
    void ClampOnLeaving();
    void ParkedFocusGone();

    TAlignment FAlignment = taLeftJustify;
    Extended FMinValue = 0;
    Extended FMaxValue = 0;
    Extended FIncrement = 1.0L;
    uint8_t FDecimal = 2;
    bool FStepping = false;
    bool FEditorEnabled = true;
    TValueType FValueType = vtInteger;
    TRxSpinButton* FButton = nullptr;
    QWidget* FBtnWindow = nullptr;
    bool FArrowKeys = true;
    TNotifyEvent FOnTopClick;
    TNotifyEvent FOnBottomClick;
    TSpinButtonKind FButtonKind = bkDiagonal;
    TRxUpDown* FUpDown = nullptr;
    TNotifyEvent FOnChange;
    bool FAutoSelect = true;
    bool FDestroying = false;
    bool FFocusParked = false;            // focus lost only to a popup or another window
    QMetaObject::Connection FFocusWatch;  // ends a parked focus that went elsewhere
    const QString* FFilterText = nullptr; // the text the key filter judges, when not text()
};
