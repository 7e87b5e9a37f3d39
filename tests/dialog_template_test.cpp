// Dialog template 101 as built into the DLL, read back from its resources.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/fixtures.h"

namespace {

// Reads the DLGTEMPLATEEX layout: WORD-aligned fields, DWORD-aligned items.
struct TemplateReader {
  const BYTE* p;
  WORD Word() { WORD v; memcpy(&v, p, 2); p += 2; return v; }
  DWORD Dword() { DWORD v; memcpy(&v, p, 4); p += 4; return v; }
  short Short() { return static_cast<short>(Word()); }
  std::string Text() {  // zero-terminated UTF-16, returned in Windows-1251
    std::wstring wide;
    for (WORD c = Word(); c != 0; c = Word()) wide.push_back(static_cast<wchar_t>(c));
    if (wide.empty()) return "";
    char narrow[512] = {};
    WideCharToMultiByte(1251, 0, wide.c_str(), static_cast<int>(wide.size()), narrow, sizeof(narrow) - 1, NULL, NULL);
    return narrow;
  }
  std::string NameOrOrdinal() {  // "#n" for an ordinal
    WORD first;
    memcpy(&first, p, 2);
    if (first == 0xFFFF) {
      p += 2;
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void AlignDword(const BYTE* base) { p = base + ((p - base + 3) & ~3); }
};

struct Item {
  DWORD exStyle;
  DWORD style;
  short x, y, cx, cy;
  int id;
  std::string windowClass;
  std::string text;
};

struct Expected {
  int id;
  const char* windowClass;  // ordinals: #128 button, #129 edit, #130 static, #133 combo box
  const char* text;
  short x, y, cx, cy;
  DWORD styleBits;    // must all be set
  DWORD styleMask;    // with styleMask, the masked style must equal styleBits
  DWORD exStyleBits;
};

}  // namespace

class DialogTemplateTest : public SimulatorTest {};

TEST_F(DialogTemplateTest, TemplateMatchesTheDesign) {
  HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(kDialogTemplateId), MAKEINTRESOURCEA(5));  // RT_DIALOG
  ASSERT_TRUE(resource != nullptr);
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module_, resource)));
  TemplateReader in = {base};

  ASSERT_EQ(1, in.Word());
  ASSERT_EQ(0xFFFF, in.Word()) << "an extended template";
  in.Dword();  // help id
  in.Dword();  // extended style
  DWORD style = in.Dword();
  int count = in.Word();
  short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
  EXPECT_EQ("", in.NameOrOrdinal()) << "no menu";
  EXPECT_EQ("", in.NameOrOrdinal()) << "standard dialog class";
  EXPECT_EQ("Десантирование  v 3.1", in.Text());
  ASSERT_TRUE(style & DS_SETFONT);
  EXPECT_EQ(8, in.Word());
  EXPECT_EQ(FW_NORMAL, in.Word());
  in.Word();  // italic and character set
  EXPECT_EQ("MS Shell Dlg", in.Text());

  EXPECT_EQ(10, x);
  EXPECT_EQ(25, y);
  EXPECT_EQ(176, cx);
  EXPECT_EQ(217, cy);
  const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME;
  EXPECT_EQ(frame, style & frame);
  EXPECT_EQ(0u, style & WS_SYSMENU) << "no system menu, so no close box";

  const DWORD kBorder = WS_BORDER;
  const Expected expected[] = {
      {1001, "#128", "Выход", 89, 185, 80, 25, BS_PUSHBUTTON | WS_TABSTOP, 0x0F, 0},
      {1002, "#128", "Десантирование", 7, 185, 80, 25, BS_PUSHBUTTON | WS_TABSTOP, 0x0F, 0},
      {-1, "#130", "Количество десантников", 7, 7, 100, 15, SS_CENTER | SS_CENTERIMAGE | kBorder, 0, 0},
      {-1, "#130", "Таймер в секундах", 7, 28, 100, 15, SS_CENTER | SS_CENTERIMAGE | kBorder, 0, 0},
      {1003, "#129", "", 119, 7, 50, 15, ES_CENTER | ES_NUMBER | kBorder | WS_TABSTOP, 0, 0},
      {1004, "#129", "", 119, 28, 50, 14, ES_CENTER | ES_NUMBER | kBorder | WS_TABSTOP, 0, 0},
      {-1, "#128", "Конфигурация", 7, 48, 162, 83, BS_GROUPBOX, 0x0F, 0},
      {1005, "#133", "", 7, 60, 162, 150, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0x0F | CBS_SORT, 0},
      {1006, "#128", "Загрузить", 7, 156, 162, 25, BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP, 0x0F, 0},
      {1007, "#130", "", 7, 78, 162, 33, SS_LEFT | kBorder, 0x1F, 0},
      {1008, "#130", "", 7, 116, 162, 15, SS_LEFT | kBorder, 0x1F, 0},
      {1009, "#128", "Включить визуализацию", 7, 137, 162, 15, BS_AUTOCHECKBOX | WS_TABSTOP, 0x0F,
       WS_EX_STATICEDGE | WS_EX_TRANSPARENT},
  };
  ASSERT_EQ(12, count);
  for (const Expected& e : expected) {
    in.AlignDword(base);
    Item item;
    in.Dword();  // help id
    item.exStyle = in.Dword();
    item.style = in.Dword();
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = static_cast<int>(in.Dword());
    item.windowClass = in.NameOrOrdinal();
    item.text = in.NameOrOrdinal();
    in.p += in.Word();  // creation data

    SCOPED_TRACE(e.text);
    EXPECT_EQ(e.id, static_cast<short>(item.id));
    EXPECT_EQ(e.windowClass, item.windowClass);
    EXPECT_EQ(e.text, item.text);
    EXPECT_EQ(e.x, item.x);
    EXPECT_EQ(e.y, item.y);
    EXPECT_EQ(e.cx, item.cx);
    EXPECT_EQ(e.cy, item.cy);
    EXPECT_EQ(e.styleBits, item.style & e.styleBits);
    if (e.styleMask) {
      EXPECT_EQ(e.styleBits & e.styleMask, item.style & e.styleMask);
    }
    EXPECT_EQ(e.exStyleBits, item.exStyle & (WS_EX_STATICEDGE | WS_EX_TRANSPARENT));
    EXPECT_TRUE(item.style & WS_CHILD);
    EXPECT_TRUE(item.style & WS_VISIBLE);
  }
}
