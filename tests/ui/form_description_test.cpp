#include "ui/form_description.h"

#include <gtest/gtest.h>

namespace ui {
namespace {

TEST(ParseDescription, ReadsEveryKindOfValue) {
  ObjectDescription d = ParseDescription(
      "\xEF\xBB\xBF"
      "object Form1: TForm1\n"
      "  Left = -12\n"
      "  Caption = 'It''s ' +\n"
      "    'joined'\n"
      "  Font.Style = [fsBold, fsItalic]\n"
      "  Empty = []\n"
      "  Color = clBtnFace\n"
      "  Data = {\n"
      "    0A0b\n"
      "    FF}\n"
      "  // a comment\n"
      "  object Inner: TPanel\n"
      "  end\n"
      "end\n");
  EXPECT_EQ(d.name, "Form1");
  EXPECT_EQ(d.className, "TForm1");
  ASSERT_EQ(d.properties.size(), 6u);
  EXPECT_EQ(d.Find("Left")->integer, -12);
  EXPECT_EQ(d.Find("Caption")->text, "It's joined");
  EXPECT_EQ(d.Find("Font.Style")->items, (std::vector<std::string>{"fsBold", "fsItalic"}));
  EXPECT_TRUE(d.Find("Empty")->items.empty());
  EXPECT_EQ(d.Find("Color")->kind, PropertyValue::Kind::Identifier);
  EXPECT_EQ(d.Find("Data")->binary, (std::vector<std::uint8_t>{0x0A, 0x0B, 0xFF}));
  ASSERT_EQ(d.children.size(), 1u);
  EXPECT_EQ(d.children[0].name, "Inner");
  EXPECT_EQ(d.Find("Missing"), nullptr);
}

TEST(ParseDescription, MalformedTextNamesTheLine) {
  const char* cases[] = {
      "",                                          // no object
      "object A: TForm\n",                         // no end
      "object A: TForm\n  X = 'open\nend\n",       // unterminated string
      "object A: TForm\n  X = {0A0}\nend\n",       // odd digits
      "object A: TForm\n  X = {0G}\nend\n",        // bad digit
      "object A: TForm\n  X = 99999999999999999999\nend\n",
      "object A: TForm\n  X = [a b]\nend\n",
      "object A: TForm\nend\nend\n",               // text after the end
      "object A TForm\nend\n",                     // no colon
  };
  for (const char* text : cases) EXPECT_THROW(ParseDescription(text), DescriptionError) << text;
  try {
    ParseDescription("object A: TForm\n  X = 1\n  Y = 'open\nend\n");
    FAIL();
  } catch (const DescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
}

FormBindings Bindings(int* clicks) {
  FormBindings b;
  b.handlers["Click"] = [clicks] { ++*clicks; };
  return b;
}

TEST(BuildForm, MakesControlsAndBindsHandlers) {
  int clicks = 0;
  auto form = BuildForm(ParseDescription("object F: TForm1\n"
                                         "  Caption = 'c'\n"
                                         "  object B: TButton\n"
                                         "    Left = 1\n    Top = 2\n    Width = 3\n    Height = 4\n"
                                         "    OnClick = Click\n"
                                         "  end\n"
                                         "  object T: TTimer\n    Interval = 50\n  end\n"
                                         "end\n"),
                        Bindings(&clicks));
  Button* b = form->Find<Button>("B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Bounds(), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(b->Parent(), form.get());
  EXPECT_EQ(b->GetFont(), form->GetFont());  // parent font by default
  b->Click();
  EXPECT_EQ(clicks, 1);
  Timer* t = form->Find<Timer>("T");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->Interval(), 50u);
}

TEST(BuildForm, RefusesWhatItDoesNotKnow) {
  int clicks = 0;
  const char* cases[] = {
      "object F: TForm1\n  Bogus = 1\nend\n",
      "object F: TForm1\n  object X: TUnknown\n  end\nend\n",
      "object F: TForm1\n  object B: TButton\n    OnClick = Missing\n  end\nend\n",
      "object F: TForm1\n  object B: TButton\n    Left = 'x'\n  end\nend\n",
      "object F: TForm1\n  BorderStyle = bsSizeable\nend\n",
      "object F: TForm1\n  object I: TImage\n    Picture.Data = {0554}\n  end\nend\n",  // truncated
  };
  for (const char* text : cases) {
    EXPECT_ANY_THROW(BuildForm(ParseDescription(text), Bindings(&clicks))) << text;
  }
}

TEST(BuildForm, PictureOfAnUnregisteredClassStaysEmpty) {
  int clicks = 0;
  auto form = BuildForm(ParseDescription("object F: TForm1\n  object I: TImage\n"
                                         "    Picture.Data = {0B5447494650696374757265474946}\n"
                                         "  end\nend\n"),
                        Bindings(&clicks));
  ASSERT_FALSE(IsPictureClassRegistered("TGIFPicture"));
  EXPECT_EQ(form->Find<Image>("I")->GetPicture(), nullptr);
}

}  // namespace
}  // namespace ui
