// The Win32 backend: real windows and native controls for the model.
//
// One window class serves forms and panels; its procedure forwards to the
// model object stored with the window. Graphic controls (images, bevels,
// labels) have no window: their parent paints them, in creation order, into
// a back buffer. A hidden application window carries the title (the task-bar
// button and message-box caption), the timers and calls posted from other
// threads.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "backend.h"
#include "dialogs_win32.h"
#include "ui/application.h"
#include "ui/bitmap.h"

namespace ui {
namespace {

constexpr wchar_t kWindowClass[] = L"RovendWindow";
constexpr wchar_t kApplicationClass[] = L"RovendApplication";
constexpr UINT kActivateMessage = WM_APP + 1;  // activation, handled outside WM_ACTIVATE
constexpr UINT kCallMessage = WM_APP + 2;      // a call posted to the UI thread
// Child window identifiers start above the dialog manager's IDOK and
// IDCANCEL, which Enter and Escape send when no button is the default.
constexpr int kFirstControlId = 100;

using win32::Wide;

COLORREF Resolve(Color color) {
  if ((color & 0xFF000000u) == kSystemColor) return GetSysColor(static_cast<int>(color & 0xFF));
  return color & 0x00FFFFFFu;
}

HWND Handle(const Component& c) { return static_cast<HWND>(c.native); }

struct Globals {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND application = nullptr;
  std::wstring title;
  std::map<UINT_PTR, Timer*> timers;
  UINT_PTR nextTimerId = 1;
  std::vector<std::pair<Font, HFONT>> fonts;
  bool classesRegistered = false;
};

Globals& G() {
  static Globals globals;
  return globals;
}

HFONT FontHandle(const Font& font) {
  for (const auto& [f, handle] : G().fonts)
    if (f == font) return handle;
  HFONT handle = CreateFontW(font.height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             static_cast<BYTE>(font.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(font.name).c_str());
  G().fonts.emplace_back(font, handle);
  return handle;
}

Control* ControlOf(HWND hwnd) { return reinterpret_cast<Control*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void PaintBevel(HDC dc, const Bevel& bevel) {
  const Rect& b = bevel.Bounds();
  COLORREF first = Resolve(bevel.style == BevelStyle::Lowered ? clBtnShadow : clBtnHighlight);
  COLORREF second = Resolve(bevel.style == BevelStyle::Lowered ? clBtnHighlight : clBtnShadow);
  auto line = [dc](int x, int y, int w, int h, COLORREF c) {
    RECT r{x, y, x + w, y + h};
    FillSolid(dc, r, c);
  };
  switch (bevel.shape) {
    case BevelShape::Box:
      line(b.left, b.top, b.width, 1, first);
      line(b.left, b.top, 1, b.height, first);
      line(b.left, b.bottom() - 1, b.width, 1, second);
      line(b.right() - 1, b.top, 1, b.height, second);
      break;
    case BevelShape::Frame:
      line(b.left, b.top, b.width - 1, 1, first);
      line(b.left, b.top, 1, b.height - 1, first);
      line(b.left + 1, b.bottom() - 1, b.width - 1, 1, second);
      line(b.right() - 1, b.top + 1, 1, b.height - 1, second);
      line(b.left + 1, b.top + 1, b.width - 2, 1, second);
      line(b.left + 1, b.top + 1, 1, b.height - 2, second);
      line(b.left, b.bottom() - 2, b.width - 1, 1, first);
      line(b.right() - 2, b.top, 1, b.height - 1, first);
      break;
    case BevelShape::TopLine:
      line(b.left, b.top, b.width, 1, first);
      line(b.left, b.top + 1, b.width, 1, second);
      break;
    case BevelShape::BottomLine:
      line(b.left, b.bottom() - 2, b.width, 1, first);
      line(b.left, b.bottom() - 1, b.width, 1, second);
      break;
    case BevelShape::LeftLine:
      line(b.left, b.top, 1, b.height, first);
      line(b.left + 1, b.top, 1, b.height, second);
      break;
    case BevelShape::RightLine:
      line(b.right() - 2, b.top, 1, b.height, first);
      line(b.right() - 1, b.top, 1, b.height, second);
      break;
  }
}

void PaintLabel(HDC dc, const Label& label, COLORREF background) {
  const Rect& b = label.Bounds();
  RECT r{b.left, b.top, b.right(), b.bottom()};
  if (!label.transparent) FillSolid(dc, r, background);
  HGDIOBJ old = SelectObject(dc, FontHandle(label.GetFont()));
  SetTextColor(dc, Resolve(label.GetFont().color));
  SetBkMode(dc, TRANSPARENT);
  std::wstring text = Wide(label.Caption());
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_LEFT | DT_EXPANDTABS | DT_NOCLIP);
  SelectObject(dc, old);
}

Color BackgroundOf(const Control& c) {
  if (auto* form = dynamic_cast<const Form*>(&c)) return form->color;
  if (auto* panel = dynamic_cast<const Panel*>(&c)) return panel->color;
  return clBtnFace;
}

// A picture that fails to draw (damaged picture data) must not take the
// paint down with it. Its error is shown once, after the paint, by the
// default handler; showing it for every later paint would bury the user in
// boxes.
void PaintImage(Image& image, PixelCanvas& canvas) {
  static std::set<const Image*> failed;
  try {
    image.Paint(canvas);
  } catch (const std::exception& error) {
    if (!failed.insert(&image).second) return;
    std::string text = error.what();
    backend::PostToUiThread([text] { Application::Instance().ShowException(std::runtime_error(text)); });
  }
}

// Paints a form's or panel's own surface and its graphic children into a
// back buffer, then puts it on screen in one transfer.
void PaintContainer(HWND hwnd, Control& container) {
  PAINTSTRUCT ps;
  HDC screen = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  const int width = std::max<int>(client.right, 1), height = std::max<int>(client.bottom, 1);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, like Bitmap32
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP buffer = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ oldBitmap = SelectObject(dc, buffer);
  const COLORREF background = Resolve(BackgroundOf(container));
  FillSolid(dc, client, background);
  if (auto* panel = dynamic_cast<Panel*>(&container); panel && panel->raisedBevel)
    DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
  GdiFlush();
  PixelCanvas canvas(static_cast<std::uint32_t*>(bits), width, height);
  for (Control* child : container.Children()) {
    if (child->IsWindowed() || !child->Visible()) continue;
    if (auto* image = dynamic_cast<Image*>(child)) {
      canvas.SetClipRect(image->Bounds());
      GdiFlush();
      PaintImage(*image, canvas);
    } else if (auto* bevel = dynamic_cast<Bevel*>(child)) {
      PaintBevel(dc, *bevel);
    } else if (auto* label = dynamic_cast<Label*>(child)) {
      PaintLabel(dc, *label, background);
    }
  }
  GdiFlush();
  BitBlt(screen, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
         ps.rcPaint.bottom - ps.rcPaint.top, dc, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  DeleteObject(buffer);
  EndPaint(hwnd, &ps);
}

void OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) != BN_CLICKED || !lParam) return;
  Control* control = ControlOf(reinterpret_cast<HWND>(lParam));
  if (auto* box = dynamic_cast<CheckBox*>(control)) {
    box->SetChecked(SendMessageW(Handle(*box), BM_GETCHECK, 0, 0) == BST_CHECKED);
  } else if (auto* button = dynamic_cast<Button*>(control)) {
    button->Click();
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Control* control = ControlOf(hwnd);
  if (!control) return DefWindowProcW(hwnd, message, wParam, lParam);
  Form* form = dynamic_cast<Form*>(control);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers everything
    case WM_PAINT:
      PaintContainer(hwnd, *control);
      return 0;
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_ACTIVATE:
      if (!form) break;
      if (LOWORD(wParam) == WA_INACTIVE) {
        // Noted before it moves to the window being activated, a message
        // box for instance, so that it can come back.
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus))
          if (Control* focused = ControlOf(focus)) form->FocusMoved(*focused);
        break;
      }
      // The handler may show modal boxes: run it after activation is done.
      PostMessageW(hwnd, kActivateMessage, 0, 0);
      if (HIWORD(wParam)) break;  // minimised: no focus to give
      form->RestoreFocus();
      if (!form->ActiveControl()) break;  // the form itself takes it
      return 0;
    case DM_GETDEFID: {
      // Enter presses the focused button, as in the system's dialogs.
      HWND focus = GetFocus();
      if (form && focus && GetParent(focus) == hwnd && dynamic_cast<Button*>(ControlOf(focus)))
        return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
      return 0;
    }
    case kActivateMessage:
      if (form) form->Activated();
      return 0;
    case WM_CLOSE:
      if (form) {
        form->Close();
        return 0;
      }
      break;
    case WM_DESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      control->native = nullptr;
      if (form && Application::Instance().MainForm() == form) PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      auto it = G().timers.find(wParam);
      if (it != G().timers.end()) it->second->Fire();
      return 0;
    }
    case kCallMessage: {
      std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lParam));
      (*call)();
      return 0;
    }
    case WM_ACTIVATE:
      // The task-bar button belongs to this window: hand activation on.
      if (LOWORD(wParam) != WA_INACTIVE) {
        Form* main = Application::Instance().MainForm();
        if (main && main->native) SetActiveWindow(Handle(*main));
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        if (Form* main = Application::Instance().MainForm()) main->Close();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (Form* main = Application::Instance().MainForm()) main->Close();
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterClasses() {
  if (G().classesRegistered) return;
  G().classesRegistered = true;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = G().instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = LoadIconW(G().instance, L"MAINICON");
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  wc.lpfnWndProc = ApplicationProc;
  wc.lpszClassName = kApplicationClass;
  RegisterClassExW(&wc);
}

HWND ApplicationWindow() {
  if (!G().application) {
    RegisterClasses();
    G().application = CreateWindowExW(0, kApplicationClass, G().title.c_str(),
                                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                                      GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                                      0, nullptr, nullptr, G().instance, nullptr);
  }
  return G().application;
}

void ApplyFont(HWND hwnd, const Control& c) {
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(c.GetFont())), TRUE);
}

void AddHint(HWND tooltip, HWND owner, const Control& c) {
  if (!tooltip || !c.showHint || c.hint.empty()) return;
  std::wstring text = Wide(c.hint);
  TOOLINFOW info = {};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = owner;
  info.uId = reinterpret_cast<UINT_PTR>(Handle(c));
  info.lpszText = text.data();
  SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

// Makes the windows of a container's windowed children, in tab order, and
// then its panels on top: a panel is there to cover its siblings when shown.
void CreateChildren(Control& container, HWND tooltip, HWND owner) {
  std::vector<Control*> windowed;
  for (Control* child : container.Children())
    if (child->IsWindowed()) windowed.push_back(child);
  std::stable_sort(windowed.begin(), windowed.end(),
                   [](Control* a, Control* b) { return a->tabOrder < b->tabOrder; });
  int id = kFirstControlId;
  for (Control* child : windowed) {
    const Rect& b = child->Bounds();
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (child->Visible() ? WS_VISIBLE : 0) |
                  (child->Enabled() ? 0 : WS_DISABLED);
    const wchar_t* cls = L"BUTTON";
    std::wstring caption;
    DWORD exStyle = 0;
    if (auto* button = dynamic_cast<Button*>(child)) {
      style |= WS_TABSTOP | BS_PUSHBUTTON;
      caption = Wide(button->Caption());
    } else if (auto* box = dynamic_cast<CheckBox*>(child)) {
      style |= WS_TABSTOP | BS_AUTOCHECKBOX;
      caption = Wide(box->Caption());
    } else {
      cls = kWindowClass;
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
    }
    HWND hwnd = CreateWindowExW(exStyle, cls, caption.c_str(), style, b.left, b.top, b.width, b.height,
                                Handle(container), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                                G().instance, nullptr);
    child->native = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(child));
    ApplyFont(hwnd, *child);
    if (auto* box = dynamic_cast<CheckBox*>(child))
      SendMessageW(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    AddHint(tooltip, owner, *child);
    if (dynamic_cast<Panel*>(child)) CreateChildren(*child, tooltip, owner);
  }
  for (Control* child : windowed)
    if (dynamic_cast<Panel*>(child))
      SetWindowPos(Handle(*child), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CreateFormWindow(Form& form) {
  RegisterClasses();
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT r{0, 0, form.clientWidth, form.clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int width = r.right - r.left, height = r.bottom - r.top;
  int x = form.Bounds().left, y = form.Bounds().top;
  if (form.position != FormPosition::Designed) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    x = area.left + (area.right - area.left - width) / 2;
    y = area.top + (area.bottom - area.top - height) / 2;
  }
  HWND hwnd = CreateWindowExW(0, kWindowClass, Wide(form.Caption()).c_str(), style, x, y, width, height,
                              ApplicationWindow(), nullptr, G().instance, nullptr);
  form.native = hwnd;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&form));
  HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr,
                                 G().instance, nullptr);
  if (tooltip) SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, 320);
  CreateChildren(form, tooltip, hwnd);
}

// The system's message box places itself as the system sees fit (Wine on
// the screen, Windows versions differ); a hook on this thread moves it where
// the caller asked the moment it is first activated, before it shows.
class MessageBoxPlacement {
 public:
  explicit MessageBoxPlacement(HWND over) : over_(over), outer_(current_) {
    current_ = this;
    hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
  }
  ~MessageBoxPlacement() {
    Unhook();
    current_ = outer_;
  }
  MessageBoxPlacement(const MessageBoxPlacement&) = delete;
  MessageBoxPlacement& operator=(const MessageBoxPlacement&) = delete;

 private:
  void Unhook() {
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
  }
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    MessageBoxPlacement* self = current_;
    const HHOOK hook = self ? self->hook_ : nullptr;
    if (self && code == HCBT_ACTIVATE) {
      const auto box = reinterpret_cast<HWND>(wParam);
      wchar_t cls[8] = {};
      GetClassNameW(box, cls, 8);
      if (wcscmp(cls, L"#32770") == 0) {
        win32::CentreWindow(box, self->over_);
        self->Unhook();
      }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
  }

  static thread_local MessageBoxPlacement* current_;
  HWND over_;
  MessageBoxPlacement* outer_;
  HHOOK hook_ = nullptr;
};

thread_local MessageBoxPlacement* MessageBoxPlacement::current_ = nullptr;

Form* ActiveForm() {
  Form* main = Application::Instance().MainForm();
  return main && main->native ? main : nullptr;
}

}  // namespace

namespace backend {

void ControlChanged(Control& control, Change what) {
  // A hidden picture may go on changing (an animation plays on); nothing of
  // it is on screen to repaint.
  if (what == Change::Picture && !control.Showing()) return;
  if (!control.IsWindowed()) {
    // A graphic control is part of its parent's surface.
    Control* parent = control.Parent();
    if (parent && parent->native) {
      const Rect& b = control.Bounds();
      RECT r{b.left, b.top, b.right(), b.bottom()};
      InvalidateRect(Handle(*parent), &r, FALSE);
    }
    return;
  }
  HWND hwnd = Handle(control);
  if (!hwnd) return;
  switch (what) {
    case Change::Visible:
      ShowWindow(hwnd, control.Visible() ? SW_SHOW : SW_HIDE);
      break;
    case Change::Bounds:
      if (!dynamic_cast<Form*>(&control)) {
        const Rect& b = control.Bounds();
        MoveWindow(hwnd, b.left, b.top, b.width, b.height, TRUE);
      }
      break;
    case Change::Caption:
      if (auto* f = dynamic_cast<Form*>(&control)) SetWindowTextW(hwnd, Wide(f->Caption()).c_str());
      if (auto* b = dynamic_cast<Button*>(&control)) SetWindowTextW(hwnd, Wide(b->Caption()).c_str());
      if (auto* c = dynamic_cast<CheckBox*>(&control)) SetWindowTextW(hwnd, Wide(c->Caption()).c_str());
      break;
    case Change::Checked:
      if (auto* c = dynamic_cast<CheckBox*>(&control))
        SendMessageW(hwnd, BM_SETCHECK, c->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Change::Enabled:
      EnableWindow(hwnd, control.Enabled());
      break;
    case Change::Font:
      ApplyFont(hwnd, control);
      break;
    default:
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
  }
}

void ControlDestroyed(Control& control) {
  if (HWND hwnd = Handle(control); hwnd && IsWindow(hwnd)) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
  }
  control.native = nullptr;
}

void TimerChanged(Timer& timer) {
  HWND owner = ApplicationWindow();
  UINT_PTR id = reinterpret_cast<UINT_PTR>(timer.native);
  if (!id) {
    id = G().nextTimerId++;
    timer.native = reinterpret_cast<void*>(id);
    G().timers[id] = &timer;
  }
  if (timer.Enabled() && timer.Interval() > 0)
    SetTimer(owner, id, timer.Interval(), nullptr);  // restarts the interval
  else
    KillTimer(owner, id);
}

void TimerDestroyed(Timer& timer) {
  UINT_PTR id = reinterpret_cast<UINT_PTR>(timer.native);
  if (G().application) KillTimer(G().application, id);
  G().timers.erase(id);
  timer.native = nullptr;
}

void FocusControl(Control& control) {
  if (HWND hwnd = Handle(control)) SetFocus(hwnd);
}

void ShowForm(Form& form) {
  if (!form.native) CreateFormWindow(form);
  HWND app = ApplicationWindow();
  if (!IsWindowVisible(app)) ShowWindow(app, SW_SHOWNOACTIVATE);
  ShowWindow(Handle(form), SW_SHOWNORMAL);
  UpdateWindow(Handle(form));
}

void RepaintForm(Form& form) {
  if (form.native) RedrawWindow(Handle(form), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void BringToFront(Form& form) {
  if (!form.native) return;
  ShowWindow(Handle(form), SW_SHOW);
  SetWindowPos(Handle(form), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(Handle(form));
}

void DestroyForm(Form& form) {
  if (HWND hwnd = Handle(form); hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
  form.native = nullptr;
}

void TitleChanged(const std::string& title) {
  G().title = Wide(title);
  if (G().application) SetWindowTextW(G().application, G().title.c_str());
}

void RunMessageLoop(Form&) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    Form* active = ActiveForm();
    if (active && IsDialogMessageW(Handle(*active), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the main loop, which ends on it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Form* active = ActiveForm();
    if (active && IsDialogMessageW(Handle(*active), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void WaitForMessages(std::uint32_t ms) {
  MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void QuitMessageLoop() { PostQuitMessage(0); }

void PostToUiThread(std::function<void()> call) {
  auto* owned = new std::function<void()>(std::move(call));
  if (!PostMessageW(ApplicationWindow(), kCallMessage, 0, reinterpret_cast<LPARAM>(owned))) {
    (*owned)();  // no queue to post to: the loop is gone, run it here
    delete owned;
  }
}

DialogResult ShowMessageBox(const std::string& text, const std::string& caption,
                            const MessageBoxOptions& options) {
  if (options.buttons == DialogButtons::AbortIgnore || options.buttons == DialogButtons::YesNoNoToAllYesToAll) {
    Form* active = ActiveForm();
    return win32::ShowButtonDialog(active ? Handle(*active) : nullptr, Wide(text), Wide(caption), options);
  }
  UINT flags = MB_SETFOREGROUND;
  switch (options.icon) {
    case DialogIcon::None: break;
    case DialogIcon::Error: flags |= MB_ICONERROR; break;
    case DialogIcon::Warning: flags |= MB_ICONWARNING; break;
    case DialogIcon::Information: flags |= MB_ICONINFORMATION; break;
    case DialogIcon::Question: flags |= MB_ICONQUESTION; break;
  }
  switch (options.buttons) {
    case DialogButtons::Ok: flags |= MB_OK; break;
    case DialogButtons::OkCancel: flags |= MB_OKCANCEL; break;
    case DialogButtons::YesNo: flags |= MB_YESNO; break;
    case DialogButtons::YesNoCancel: flags |= MB_YESNOCANCEL; break;
    case DialogButtons::AbortRetryIgnore: flags |= MB_ABORTRETRYIGNORE; break;
    case DialogButtons::RetryCancel: flags |= MB_RETRYCANCEL; break;
    default: break;
  }
  Form* active = ActiveForm();
  HWND owner = active ? Handle(*active) : nullptr;
  if (!owner) flags |= MB_TASKMODAL;
  MessageBoxPlacement placement(options.centerOnScreen ? nullptr : owner);
  switch (MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), flags)) {
    case IDOK: return DialogResult::Ok;
    case IDYES: return DialogResult::Yes;
    case IDNO: return DialogResult::No;
    case IDABORT: return DialogResult::Abort;
    case IDRETRY: return DialogResult::Retry;
    case IDIGNORE: return DialogResult::Ignore;
    default: return DialogResult::Cancel;
  }
}

bool ShowPasswordDialog(const std::string& caption, const std::string& prompt, std::string& text) {
  Form* active = ActiveForm();
  return win32::ShowPasswordDialog(active ? Handle(*active) : nullptr, Wide(caption), Wide(prompt), text);
}

}  // namespace backend
}  // namespace ui
