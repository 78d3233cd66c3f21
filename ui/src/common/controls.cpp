#include "ui/controls.h"

#include <algorithm>
#include <vector>

#include "backend.h"
#include "ui/application.h"

namespace ui {

Control::Control(std::string name, Control* parent) : Component(std::move(name)), parent_(parent) {
  if (parent_) parent_->children_.push_back(this);
}

Control::~Control() {
  if (native) backend::ControlDestroyed(*this);
  if (parent_) std::erase(parent_->children_, this);
  for (Control* child : children_) child->parent_ = nullptr;
}

Form* Control::OwnerForm() {
  Control* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<Form*>(c);
}

void Control::Changed(Change what) {
  backend::ControlChanged(*this, what);
}

void Control::SetBounds(Rect bounds) {
  if (bounds_ == bounds) return;
  bounds_ = bounds;
  Changed(Change::Bounds);
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed(Change::Visible);
}

bool Control::Showing() const {
  for (const Control* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

bool Control::CanFocus() const {
  if (!TabStop()) return false;
  for (const Control* c = this; c; c = c->parent_)
    if (!c->visible_ || !c->enabled_) return false;
  return true;
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed(Change::Enabled);
}

const Font& Control::GetFont() const {
  if (parentFont_ && parent_) return parent_->GetFont();
  return font_;
}

void Control::SetFont(const Font& font) {
  font_ = font;
  parentFont_ = false;
  Changed(Change::Font);
}

void Button::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Changed(Change::Caption);
}

void Button::Click() {
  if (onClick) Application::Instance().Invoke(onClick);
}

void CheckBox::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Changed(Change::Caption);
}

void CheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Changed(Change::Checked);
}

Image::~Image() = default;

void Image::SetPicture(std::unique_ptr<Picture> picture) {
  picture_ = std::move(picture);
  if (picture_) picture_->onChange = [this] { Changed(Change::Picture); };
  Changed(Change::Picture);
}

void Image::Paint(Canvas& canvas) {
  if (picture_) picture_->Draw(canvas, Bounds().left, Bounds().top);
}

void Label::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Changed(Change::Caption);
}

Timer::~Timer() { backend::TimerDestroyed(*this); }

void Timer::SetInterval(unsigned ms) {
  if (interval_ == ms) return;
  interval_ = ms;
  Changed();
}

void Timer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void Timer::Changed() { backend::TimerChanged(*this); }

void Timer::Fire() {
  if (enabled_ && onTimer) Application::Instance().Invoke(onTimer);
}

namespace {

// In tab order, into containers at their own place in it.
Control* FirstTabStop(const Control& container) {
  std::vector<Control*> children = container.Children();
  std::stable_sort(children.begin(), children.end(),
                   [](const Control* a, const Control* b) { return a->tabOrder < b->tabOrder; });
  for (Control* child : children) {
    if (child->CanFocus()) return child;
    if (!child->IsWindowed() || !child->Visible() || !child->Enabled()) continue;
    if (Control* inner = FirstTabStop(*child)) return inner;
  }
  return nullptr;
}

}  // namespace

Form::Form(std::string name) : WinControl(std::move(name), nullptr) {}

Form::~Form() {
  activeControl_ = nullptr;
  // Children go before their parents: they were made after them.
  while (!components_.empty()) components_.pop_back();
  if (native) backend::DestroyForm(*this);
}

void Form::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Changed(Change::Caption);
}

Component* Form::FindComponent(const std::string& name) const {
  for (const auto& c : components_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

void Form::ShowWindow() {
  SetVisible(true);
  backend::ShowForm(*this);
}

void Form::Repaint() { backend::RepaintForm(*this); }

void Form::BringToFront() {
  SetVisible(true);
  backend::BringToFront(*this);
}

void Form::Close() {
  if (closed_) return;
  if (onClose) Application::Instance().Invoke(onClose);
  closed_ = true;
  backend::DestroyForm(*this);
  if (Application::Instance().MainForm() == this) Application::Instance().Terminate();
}

void Form::Activated() {
  if (!closed_ && onActivate) Application::Instance().Invoke(onActivate);
}

void Form::FocusControl(Control& control) {
  activeControl_ = &control;
  backend::FocusControl(control);
}

void Form::RestoreFocus() {
  if (!activeControl_ || !activeControl_->CanFocus()) activeControl_ = FirstTabStop(*this);
  if (activeControl_) backend::FocusControl(*activeControl_);
}

}  // namespace ui
