#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tavrin {

// The window as it is stored: what every start shows, on whichever system.
// Positions and sizes are in twips (1/1440 inch) from the top left corner of
// the client area.

inline constexpr int kTwipsPerInch = 1440;

struct Twips {
  int left;
  int top;
  int width;
  int height;
};

enum class ControlKind { Label, TextBox, CheckBox, Button, StatusBar };

struct StoredControl {
  std::string_view name;
  ControlKind kind;
  Twips twips;
  // The place in the focus order; labels and the status bar have one but
  // never take the focus.
  int tabIndex;
  std::string_view caption;  // a text box's initial text
  // What screen readers say for the control: the caption, unless the caption
  // does not tell what the control is for.
  std::string_view accessibleName;
  std::string_view labelled;  // the control that a label names
};

inline constexpr Twips kClientTwips{0, 0, 5685, 2955};

// The controls in the design's own order, each in two lines: name, kind,
// twips (left, top, width, height) and tab index; caption, accessible name
// and, for a label, the control that it names. The caption of the check box
// is only a sample of what it unpacks.
// clang-format off
inline constexpr auto kStoredDesign = std::to_array<StoredControl>({
    {"Label1",            ControlKind::Label,     { 120,  300, 1575, 255},  1,
                          "Input Filename:",             "Input Filename:",            "txtInputFileName"},
    {"txtInputFileName",  ControlKind::TextBox,   {1740,  300, 2775, 285},  0,
                          "",                            "Input file name",            ""},
    {"cmdInputFile",      ControlKind::Button,    {4560,  300, 1035, 285},  8,
                          "Browse...",                   "Browse for the input file",  ""},
    {"Label2",            ControlKind::Label,     { 120,  690, 1575, 255},  3,
                          "Output Filename:",            "Output Filename:",           "txtOutputFileName"},
    {"txtOutputFileName", ControlKind::TextBox,   {1740,  690, 2775, 285},  2,
                          "",                            "Output file name",           ""},
    {"cmdOutputFile",     ControlKind::Button,    {4560,  690, 1035, 285},  9,
                          "Browse...",                   "Browse for the output file", ""},
    {"Label3",            ControlKind::Label,     { 120, 1080, 1575, 255},  6,
                          "Separator:",                  "Separator:",                 "txtSeparator"},
    {"txtSeparator",      ControlKind::TextBox,   {1740, 1080,  315, 285},  5,
                          ",",                           "Separator",                  ""},
    {"chkUnbuildMailTo",  ControlKind::CheckBox,  {1740, 1440, 2715, 315},  7,
                          "\"Name\" <name@example.com>", "Unpack names and addresses", ""},
    {"cmdProcess",        ControlKind::Button,    {1740, 2100, 1035, 345},  4,
                          "Process",                     "Process",                    ""},
    {"cmdClose",          ControlKind::Button,    {2880, 2100, 1035, 345}, 10,
                          "Close",                       "Close",                      ""},
    {"StatusBar1",        ControlKind::StatusBar, {   0, 2700, 5685, 255}, 11,
                          "",                            "Status",                     ""},
});
// clang-format on

// The place of the control of this name in kStoredDesign. In a constant
// expression, a name that is not there does not compile.
constexpr std::size_t designIndex(std::string_view name) {
  for (std::size_t index = 0; index < kStoredDesign.size(); ++index)
    if (kStoredDesign[index].name == name) return index;
  throw std::out_of_range("no such control in the stored design");
}

constexpr const StoredControl& storedControl(std::string_view name) {
  return kStoredDesign[designIndex(name)];
}

constexpr bool takesFocus(ControlKind kind) {
  return kind != ControlKind::Label && kind != ControlKind::StatusBar;
}

// Whether the window system names the control for screen readers by itself,
// from its caption; a text box is named by the window.
constexpr bool namedByCaption(const StoredControl& control) {
  return control.kind != ControlKind::TextBox && control.accessibleName == control.caption;
}

// The controls by tab index.
std::vector<StoredControl> inTabOrder();

// The label that names the control of this name, or none.
const StoredControl* labelOf(std::string_view name);

}  // namespace tavrin
