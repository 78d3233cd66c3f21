#pragma once
// The controls of the window toolkit and their state. The model lives here,
// shared by every backend; a backend mirrors changes onto native windows
// (Win32) or keeps only the model (headless).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/geometry.h"
#include "ui/picture.h"

namespace ui {

// System colours are stored as 0xFF000000 | the Windows COLOR_ index.
inline constexpr Color kSystemColor = 0xFF000000u;
inline constexpr Color clBtnFace = kSystemColor | 15;
inline constexpr Color clWindowText = kSystemColor | 8;
inline constexpr Color clBtnShadow = kSystemColor | 16;
inline constexpr Color clBtnHighlight = kSystemColor | 20;
inline constexpr Color clBlack = Rgb(0, 0, 0);
inline constexpr Color clGray = Rgb(128, 128, 128);
inline constexpr Color clWhite = Rgb(255, 255, 255);

struct Font {
  std::string name = "Tahoma";
  int height = -11;  // negative: character height in pixels, as LOGFONT
  Color color = clWindowText;
  bool bold = false;
  int charset = 1;  // DEFAULT_CHARSET
  bool operator==(const Font&) const = default;
};

// What changed, so that a backend updates only that.
enum class Change { Visible, Bounds, Caption, Checked, Enabled, Picture, Font, Color, Timer };

class Form;

// Anything a form owns by name: controls and non-visual components.
class Component {
 public:
  explicit Component(std::string name) : name_(std::move(name)) {}
  virtual ~Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;
  const std::string& Name() const { return name_; }
  // Backend's own handle for this object (a window, a timer id), or null.
  void* native = nullptr;

 private:
  std::string name_;
};

class Control : public Component {
 public:
  Control(std::string name, Control* parent);
  ~Control() override;

  Control* Parent() const { return parent_; }
  const std::vector<Control*>& Children() const { return children_; }
  Form* OwnerForm();
  virtual bool IsWindowed() const { return false; }

  const Rect& Bounds() const { return bounds_; }
  void SetBounds(Rect bounds);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible itself and every parent up to the form.
  bool Showing() const;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Takes the keyboard focus by Tab or a click.
  virtual bool TabStop() const { return false; }
  // A tab stop that shows and is enabled, and so are its parents.
  bool CanFocus() const;

  const Font& GetFont() const;  // own font, or the parent's with ParentFont
  void SetFont(const Font& font);
  bool ParentFont() const { return parentFont_; }

  int tabOrder = -1;
  std::string hint;
  bool showHint = false;

 protected:
  void Changed(Change what);

 private:
  Control* parent_;
  std::vector<Control*> children_;
  Rect bounds_;
  bool visible_ = true;
  bool enabled_ = true;
  Font font_;
  bool parentFont_ = true;
};

class WinControl : public Control {
 public:
  using Control::Control;
  bool IsWindowed() const override { return true; }
};

class Button final : public WinControl {
 public:
  using WinControl::WinControl;
  bool TabStop() const override { return true; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  std::function<void()> onClick;
  // A click as the user makes it: runs onClick through the application's
  // exception handler.
  void Click();

 private:
  std::string caption_;
};

class CheckBox final : public WinControl {
 public:
  using WinControl::WinControl;
  bool TabStop() const override { return true; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);

 private:
  std::string caption_;
  bool checked_ = false;
};

class Panel final : public WinControl {
 public:
  using WinControl::WinControl;
  Color color = clBtnFace;
  bool raisedBevel = false;
};

// Graphic controls: drawn by their parent, no window of their own.
class Image final : public Control {
 public:
  using Control::Control;
  ~Image() override;
  Picture* GetPicture() const { return picture_.get(); }
  void SetPicture(std::unique_ptr<Picture> picture);
  // Draws the picture unscaled from the top-left corner, clipped to the box.
  void Paint(Canvas& canvas);

 private:
  std::unique_ptr<Picture> picture_;
};

enum class BevelShape { Box, Frame, TopLine, BottomLine, LeftLine, RightLine };
enum class BevelStyle { Lowered, Raised };

class Bevel final : public Control {
 public:
  using Control::Control;
  BevelShape shape = BevelShape::Box;
  BevelStyle style = BevelStyle::Lowered;
};

class Label final : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool transparent = false;

 private:
  std::string caption_;
};

class Timer final : public Component {
 public:
  using Component::Component;
  ~Timer() override;
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Takes the keyboard focus by Tab or a click.
  virtual bool TabStop() const { return false; }
  // A tab stop that shows and is enabled, and so are its parents.
  bool CanFocus() const;
  std::function<void()> onTimer;
  // Starts ticking as stored, once the form that owns it has been made.
  void Loaded() { Changed(); }
  // A tick as the message loop delivers it: onTimer through the
  // application's exception handler, only while enabled.
  void Fire();

 private:
  void Changed();
  unsigned interval_ = 1000;
  bool enabled_ = true;
};

enum class FormPosition { Designed, ScreenCenter, DesktopCenter };

class Form final : public WinControl {
 public:
  explicit Form(std::string name);
  ~Form() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  int clientWidth = 0, clientHeight = 0;
  Color color = clBtnFace;
  FormPosition position = FormPosition::Designed;

  std::function<void()> onActivate;
  std::function<void()> onClose;

  // The form owns every component made for it, in creation order.
  template <typename T, typename... Args>
  T& Add(Args&&... args) {
    auto owned = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *owned;
    components_.push_back(std::move(owned));
    return ref;
  }
  void Adopt(std::unique_ptr<Component> component) { components_.push_back(std::move(component)); }
  Component* FindComponent(const std::string& name) const;
  template <typename T>
  T* Find(const std::string& name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }
  const std::vector<std::unique_ptr<Component>>& Components() const { return components_; }

  // Creates the native window (if the backend has one) and shows it.
  void ShowWindow();
  // Paints everything that is out of date at once, before returning.
  void Repaint();
  // Shows the form and makes it the foreground window.
  void BringToFront();
  // Closes as the user would: onClose, then the window goes.
  void Close();
  bool Closed() const { return closed_; }
  // Activation as the window system reports it: onActivate through the
  // application's exception handler.
  void Activated();

  // The control that has the keyboard focus while the form is active and
  // gets it back when the form is activated again, after one of the
  // program's boxes for instance; at first the first tab stop in tab order.
  Control* ActiveControl() const { return activeControl_; }
  // Moves the focus to `control`, as Tab or a click would.
  void FocusControl(Control& control);
  // The window system reports where the focus went; nothing moves.
  void FocusMoved(Control& control) { activeControl_ = &control; }
  // On activation: the focus goes back to ActiveControl, or to the first
  // tab stop when that can no longer take it.
  void RestoreFocus();

 private:
  std::string caption_;
  Control* activeControl_ = nullptr;
  std::vector<std::unique_ptr<Component>> components_;
  bool closed_ = false;
};

}  // namespace ui
