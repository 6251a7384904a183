#pragma once
// The one seam through which core code talks to the person at the screen:
// message boxes, the status bar, the done marks of the agendas, the
// application-wide cursor and the processing of pending window events.
// The desktop program implements it with Qt, the CLI with the terminal, tests
// with a scripted fake.

#include <string>
#include <string_view>

namespace dalimor {

// Button sets of a message box (the platform's codes).
inline constexpr int kMbOk = 0;
inline constexpr int kMbYesNo = 4;                // Yes preselected
inline constexpr int kMbDefButton2 = 256;
inline constexpr int kMbYesNoDefaultNo = kMbYesNo + kMbDefButton2;  // 260, No preselected

// Answers of a message box.
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The icon of a message box and the platform flag it adds to the button code.
enum class MsgKind { kWarning, kError, kInfo, kQuestion };
int MsgKindFlag(MsgKind kind);  // 48, 16, 64, 32

// The application title, used for an empty caption.
inline constexpr std::string_view kApplicationTitle = "Dalimor";
// The caption almost every caller passes: the title and one blank.
inline constexpr std::string_view kMsgCaption = "Dalimor ";

// Application-wide mouse cursors the core asks for.
enum class Cursor { kDefault, kHourGlass, kOther };

// The two pages that carry done marks: send ("O") and receive ("P").
enum class RunPage { kSend, kReceive };

class Ui {
 public:
  virtual ~Ui() = default;

  // Shows a modal message box and returns the answer code (kIdOk, kIdYes,
  // kIdNo).  `caption` is already non-empty; `buttons` is kMbOk, kMbYesNo or
  // kMbYesNoDefaultNo.
  virtual int ShowMessageBox(MsgKind kind, const std::string& caption,
                             const std::string& text, int buttons) = 0;
  // Brings the application's main window to the front.
  virtual void BringToFront() {}

  // Replaces the status bar text (empty clears it).
  virtual void SetStatusText(const std::string& text) = 0;

  // Shows the done mark of one agenda on a page and repaints it at once.
  virtual void ShowDoneMark(RunPage page, const std::string& agenda) = 0;
  // Hides every done mark if the last run completed (HideDoneMarks).
  virtual void HideDoneMarks() = 0;
  // Records that a run completed, so that its marks stay until the next change.
  virtual void SetDoneMarksShown(bool shown) = 0;

  // The application-wide cursor.
  virtual Cursor CurrentCursor() const = 0;
  virtual void SetCursor(Cursor cursor) = 0;

  // Lets the window handle pending events (repaints) during a long operation.
  virtual void ProcessPendingEvents() {}

  // Progress of a run: `done` of `total` steps (tables, text and price-list
  // steps) finished, and `within` thousandths of the next step (the steps
  // that go row by row report as they go).  Optional.
  virtual void SetProgress(int done, int total, int within) { (void)done, (void)total, (void)within; }

  // Whether the user asked the running send or receive to stop; the run
  // checks at safe points and then puts everything back.  May be asked from
  // the thread the run works on.
  virtual bool StopRequested() const { return false; }

  // The nesting state of the busy cursor, kept with the seam it acts on and
  // changed only by BeginBusyCursor / EndBusyCursor.
  struct BusyCursorState {
    int depth = 0;
    Cursor saved = Cursor::kDefault;
  };
  BusyCursorState busy_cursor;
};

// The four message boxes.  An empty caption becomes "Dalimor".  MsgQuestion
// brings the application to the front after the box closes.
int MsgWarning(Ui& ui, std::string_view caption, const std::string& text, int buttons = kMbOk);
int MsgError(Ui& ui, std::string_view caption, const std::string& text, int buttons = kMbOk);
int MsgInfo(Ui& ui, std::string_view caption, const std::string& text, int buttons = kMbOk);
int MsgQuestion(Ui& ui, std::string_view caption, const std::string& text, int buttons = kMbYesNo);

// At depth 0 remembers the current cursor and sets the hourglass; then one
// level deeper.
void BeginBusyCursor(Ui& ui);
// One level up; at depth 0 nothing happens; reaching 0 restores the cursor
// remembered by the outermost begin.
void EndBusyCursor(Ui& ui);

// Begin on construction, end on destruction, however the scope is left.
class BusyCursorScope {
 public:
  explicit BusyCursorScope(Ui& ui) : ui_(ui) { BeginBusyCursor(ui_); }
  ~BusyCursorScope() { EndBusyCursor(ui_); }
  BusyCursorScope(const BusyCursorScope&) = delete;
  BusyCursorScope& operator=(const BusyCursorScope&) = delete;

 private:
  Ui& ui_;
};

}  // namespace dalimor
