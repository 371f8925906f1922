// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/help_window.h"

#include <array>

#include "app/version.h"
#include "ui/toolkit.h"

const char* const aboutText = "Quillfern v" QUILLFERN_VERSION
                              "\rThe sound of an excited neuron - \r"
                              "based on Hindmarsh-Rose equations";

namespace {

constexpr int32_t HelpWidth = 620;
constexpr int32_t HelpHeight = 240;
constexpr int32_t EditorMargin = 5;
constexpr int32_t EditorWidth = 610;
constexpr int32_t EditorHeight = 360;  // taller than the window: its lower part is not seen

struct HelpPiece {
  const char* text;
  bool blankLineAfter;
};

constexpr std::array helpPieces{
    HelpPiece{"Quillfern allows you to hear (and play from a keyboard) the 'excitation "
              "behaviour' of a neuron (ie membrane potential),",
              false},
    HelpPiece{"modelled by the Hindmarsh-Rose differential equations:", true},
    HelpPiece{"dx/dt = y - a*(x^3) + b*(x^2) - z + i", false},
    HelpPiece{"dy/dt = c - d*(x^2) - y", false},
    HelpPiece{"dz/dt = r*(s*(x + 1.6) - z)", true},
    HelpPiece{"where", false},
    HelpPiece{"the membrane potential is x(t).", false},
    HelpPiece{"the transport of ions through the 'fast ion' channels and its rate is measured "
              "by y(t): the spiking variable.",
              false},
    HelpPiece{"the transport of ions through the 'slow ion' channels is determined by z(t): the "
              "bursting variable.",
              false},
    HelpPiece{"i is the level of current which enters the neuron.", false},
    HelpPiece{"the 's' checkbox simply toggles between two static s values.", false},
    HelpPiece{"Adjust the volume with the Vol slider to a suitable level, otherwise "
              "clipping/distortion may occur.",
              true},
    HelpPiece{"Varying the parameters changes the sound from variations of spiking to "
              "variations of bursting, and chaos in between.",
              false},
};

}  // namespace

std::string helpText() {
  std::string text;
  for (const HelpPiece& piece : helpPieces) {
    text += '\r';
    text += piece.text;
    if (piece.blankLineAfter) text += '\r';
  }
  return text;
}

void showAboutBox() {
  showMessage("About", aboutText);
}

void showHelpWindow() {
  const int32_t window = openWindow(AnyNumber, IgnoreValue, IgnoreValue, HelpWidth, HelpHeight,
                                    "Quillfern Help", WindowTitleBar + WindowScreenCentred);
  if (window == 0) return;
  const int32_t editor =
      addEditor(AnyNumber, EditorMargin, EditorMargin, EditorWidth, EditorHeight, EditorReadOnly);
  setControlText(editor, helpText().c_str());
  // Everything but this window's own close request is taken and dropped, MainWindow's included.
  while (!(waitEvent(WaitForever) == CloseWindowEvent && eventWindow() == window)) {
  }
  closeWindow(window);
}
