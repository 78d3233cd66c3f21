#include <cmath>
#include <map>

#include "ui/display.h"
#include "ui/form_description.h"

namespace ui {
namespace {

const std::map<std::string, Color, std::less<>>& ColorNames() {
  static const std::map<std::string, Color, std::less<>> names = {
      {"clBtnFace", clBtnFace},   {"clWindowText", clWindowText}, {"clBtnShadow", clBtnShadow},
      {"clBtnHighlight", clBtnHighlight}, {"clBlack", clBlack}, {"clGray", clGray},
      {"clWhite", clWhite},       {"clWindow", kSystemColor | 5},
  };
  return names;
}

class Builder {
 public:
  Builder(const FormBindings& bindings) : bindings_(bindings) {}

  std::unique_ptr<Form> Build(const ObjectDescription& d) {
    auto form = std::make_unique<Form>(d.name);
    form_ = form.get();
    for (const auto& [name, value] : d.properties) {
      if (ControlProperty(*form, name, value)) continue;
      if (name == "Caption") form->SetCaption(Text(name, value));
      else if (name == "ClientWidth") form->clientWidth = Int(name, value);
      else if (name == "ClientHeight") form->clientHeight = Int(name, value);
      else if (name == "Color") form->color = ColorValue(name, value);
      else if (name == "Position") form->position = Position(name, value);
      else if (name == "OnActivate") form->onActivate = Handler(value);
      else if (name == "OnClose") form->onClose = Handler(value);
      // Fixed by the toolkit for every form: a single border with the system
      // menu only, left-to-right reading, 96 pixels per inch.
      else if (name == "BorderStyle") Expect(name, value, "bsSingle");
      else if (name == "BorderIcons") ExpectSet(name, value, {"biSystemMenu"});
      else if (name == "BiDiMode") Expect(name, value, "bdLeftToRight");
      else if (name == "PixelsPerInch") ExpectInt(name, value, 96);
      else if (name == "OldCreateOrder" || name == "TextHeight") continue;
      else Unknown(d, name);
    }
    for (const auto& child : d.children) Child(*form, child);
    // Laid out at the system's DPI, as the runtime scales a form stored at
    // 96, so that captions in the larger system font are not clipped.
    const int dpi = ScreenPixelsPerInch();
    if (dpi != kStoredPixelsPerInch) Scale(*form, dpi, kStoredPixelsPerInch);
    return form;
  }

 private:
  static constexpr int kStoredPixelsPerInch = 96;

  // Edges, not sizes, are scaled, so that controls that meet still meet.
  static void Scale(Form& form, int num, int den) {
    const auto at = [num, den](int v) {
      return static_cast<int>(std::lround(static_cast<double>(v) * num / den));
    };
    // A font keeps its size in points, as the runtime keeps it: a height
    // of -11 pixels at 96 is 8 points, -16 pixels at 144.
    const auto font = [&at, num](Control& c) {
      Font f = c.GetFont();
      if (f.height < 0) {
        const int points = static_cast<int>(std::lround(-f.height * 72.0 / kStoredPixelsPerInch));
        f.height = -static_cast<int>(std::lround(points * static_cast<double>(num) / 72));
      } else {
        f.height = at(f.height);
      }
      c.SetFont(f);
    };
    form.clientWidth = at(form.clientWidth);
    form.clientHeight = at(form.clientHeight);
    font(form);
    for (const auto& component : form.Components()) {
      auto* c = dynamic_cast<Control*>(component.get());
      if (!c) continue;
      const Rect b = c->Bounds();
      const int left = at(b.left), top = at(b.top);
      c->SetBounds({left, top, at(b.right()) - left, at(b.bottom()) - top});
      if (!c->ParentFont()) font(*c);
      if (auto* image = dynamic_cast<Image*>(c); image && image->GetPicture()) image->GetPicture()->Scale(num, den);
    }
  }

  [[noreturn]] void Fail(const std::string& what) const { throw DescriptionError("Window description: " + what); }
  [[noreturn]] void Unknown(const ObjectDescription& d, const std::string& property) const {
    Fail("property " + d.className + "." + property + " does not exist");
  }

  int Int(const std::string& name, const PropertyValue& v) const {
    if (v.kind != PropertyValue::Kind::Integer || v.integer < INT32_MIN || v.integer > INT32_MAX)
      Fail(name + " must be an integer");
    return static_cast<int>(v.integer);
  }
  std::string Text(const std::string& name, const PropertyValue& v) const {
    if (v.kind != PropertyValue::Kind::String) Fail(name + " must be a string");
    return v.text;
  }
  std::string Ident(const std::string& name, const PropertyValue& v) const {
    if (v.kind != PropertyValue::Kind::Identifier) Fail(name + " must be an identifier");
    return v.text;
  }
  bool Bool(const std::string& name, const PropertyValue& v) const {
    std::string id = Ident(name, v);
    if (id == "True") return true;
    if (id == "False") return false;
    Fail(name + " must be True or False");
  }
  void Expect(const std::string& name, const PropertyValue& v, const char* only) const {
    if (Ident(name, v) != only) Fail(name + " supports only " + only);
  }
  void ExpectInt(const std::string& name, const PropertyValue& v, int only) const {
    if (Int(name, v) != only) Fail(name + " supports only " + std::to_string(only));
  }
  void ExpectSet(const std::string& name, const PropertyValue& v, std::vector<std::string> only) const {
    if (v.kind != PropertyValue::Kind::Set || v.items != only) Fail(name + " has an unsupported value");
  }
  Color ColorValue(const std::string& name, const PropertyValue& v) const {
    if (v.kind == PropertyValue::Kind::Integer) return static_cast<Color>(v.integer);
    auto it = ColorNames().find(Ident(name, v));
    if (it == ColorNames().end()) Fail("unknown colour " + v.text);
    return it->second;
  }
  template <typename E>
  E Choice(const std::string& name, const PropertyValue& v,
           std::initializer_list<std::pair<const char*, E>> choices) const {
    std::string id = Ident(name, v);
    for (const auto& [text, e] : choices)
      if (id == text) return e;
    Fail(name + " cannot be " + id);
  }
  FormPosition Position(const std::string& name, const PropertyValue& v) const {
    return Choice<FormPosition>(name, v,
                                {{"poDesigned", FormPosition::Designed},
                                 {"poScreenCenter", FormPosition::ScreenCenter},
                                 {"poDesktopCenter", FormPosition::DesktopCenter}});
  }
  std::function<void()> Handler(const PropertyValue& v) const {
    std::string id = Ident("handler", v);
    auto it = bindings_.handlers.find(id);
    if (it == bindings_.handlers.end()) Fail("handler " + id + " is not bound");
    return it->second;
  }

  // Properties every control has; true when `name` was one of them.
  bool ControlProperty(Control& c, const std::string& name, const PropertyValue& v) {
    Rect r = c.Bounds();
    if (name == "Left") r.left = Int(name, v);
    else if (name == "Top") r.top = Int(name, v);
    else if (name == "Width") r.width = Int(name, v);
    else if (name == "Height") r.height = Int(name, v);
    else if (name == "Visible") c.SetVisible(Bool(name, v));
    else if (name == "Enabled") c.SetEnabled(Bool(name, v));
    else if (name == "TabOrder") c.tabOrder = Int(name, v);
    else if (name == "Hint") c.hint = Text(name, v);
    else if (name == "ShowHint") c.showHint = Bool(name, v);
    else if (name == "ParentShowHint") Bool(name, v);  // hints show per control
    else if (name == "ParentFont") {
      if (!Bool(name, v)) c.SetFont(c.GetFont());
    } else if (name.rfind("Font.", 0) == 0) {
      Font f = c.GetFont();
      std::string field = name.substr(5);
      if (field == "Name") f.name = Text(name, v);
      else if (field == "Height") f.height = Int(name, v);
      else if (field == "Color") f.color = ColorValue(name, v);
      else if (field == "Charset") Expect(name, v, "DEFAULT_CHARSET");
      else if (field == "Style") {
        if (v.kind != PropertyValue::Kind::Set) Fail(name + " must be a set");
        f.bold = false;
        for (const auto& item : v.items) {
          if (item == "fsBold") f.bold = true;
          else Fail("unsupported font style " + item);
        }
      } else {
        return false;
      }
      // Stored font fields make the control's font its own, as ParentFont = False.
      c.SetFont(f);
    } else {
      return false;
    }
    c.SetBounds(r);
    return true;
  }

  void Child(Control& parent, const ObjectDescription& d) {
    const std::string& cls = d.className;
    if (cls == "TButton") {
      auto& b = form_->Add<Button>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(b, name, value)) continue;
        if (name == "Caption") b.SetCaption(Text(name, value));
        else if (name == "OnClick") b.onClick = Handler(value);
        else Unknown(d, name);
      }
    } else if (cls == "TCheckBox") {
      auto& b = form_->Add<CheckBox>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(b, name, value)) continue;
        if (name == "Caption") b.SetCaption(Text(name, value));
        else if (name == "Checked") b.SetChecked(Bool(name, value));
        else if (name == "State") b.SetChecked(Ident(name, value) == "cbChecked");
        else Unknown(d, name);
      }
    } else if (cls == "TImage") {
      auto& image = form_->Add<Image>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(image, name, value)) continue;
        if (name == "Picture.Data") {
          if (value.kind != PropertyValue::Kind::Binary) Fail(name + " must be binary data");
          image.SetPicture(ReadPictureData(value.binary));
        } else {
          Unknown(d, name);
        }
      }
    } else if (cls == "TBevel") {
      auto& bevel = form_->Add<Bevel>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(bevel, name, value)) continue;
        if (name == "Shape") {
          bevel.shape = Choice<BevelShape>(name, value,
                                           {{"bsBox", BevelShape::Box},
                                            {"bsFrame", BevelShape::Frame},
                                            {"bsTopLine", BevelShape::TopLine},
                                            {"bsBottomLine", BevelShape::BottomLine},
                                            {"bsLeftLine", BevelShape::LeftLine},
                                            {"bsRightLine", BevelShape::RightLine}});
        } else if (name == "Style") {
          bevel.style = Choice<BevelStyle>(
              name, value, {{"bsLowered", BevelStyle::Lowered}, {"bsRaised", BevelStyle::Raised}});
        } else {
          Unknown(d, name);
        }
      }
    } else if (cls == "TLabel") {
      auto& label = form_->Add<Label>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(label, name, value)) continue;
        if (name == "Caption") label.SetCaption(Text(name, value));
        else if (name == "Transparent") label.transparent = Bool(name, value);
        else Unknown(d, name);
      }
    } else if (cls == "TPanel") {
      auto& panel = form_->Add<Panel>(d.name, &parent);
      for (const auto& [name, value] : d.properties) {
        if (ControlProperty(panel, name, value)) continue;
        if (name == "Color") panel.color = ColorValue(name, value);
        else if (name == "BevelOuter") panel.raisedBevel = Ident(name, value) == "bvRaised";
        else if (name == "Caption") {
          if (!Text(name, value).empty()) Fail("panel captions are not supported");
        } else {
          Unknown(d, name);
        }
      }
      for (const auto& child : d.children) Child(panel, child);
      return;
    } else if (cls == "TTimer") {
      auto& timer = form_->Add<Timer>(d.name);
      for (const auto& [name, value] : d.properties) {
        if (name == "Interval") timer.SetInterval(static_cast<unsigned>(Int(name, value)));
        else if (name == "Enabled") timer.SetEnabled(Bool(name, value));
        else if (name == "OnTimer") timer.onTimer = Handler(value);
        else Unknown(d, name);
      }
      timer.Loaded();
    } else {
      auto it = bindings_.componentClasses.find(cls);
      if (it == bindings_.componentClasses.end()) Fail("class " + cls + " not found");
      std::unique_ptr<Component> component = it->second(d);
      if (!component) Fail("class " + cls + " made no component");
      form_->Adopt(std::move(component));
    }
    if (!d.children.empty()) Fail(d.name + " cannot hold other objects");
  }

  const FormBindings& bindings_;
  Form* form_ = nullptr;
};

}  // namespace

std::unique_ptr<Form> BuildForm(const ObjectDescription& description, const FormBindings& bindings) {
  return Builder(bindings).Build(description);
}

}  // namespace ui
