#include "engine/platform.hpp"
#include "ui/frm_tavrin_win32.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tavrin::guardProcess();
  tavrin::FrmTavrin frmTavrin;
  frmTavrin.show();
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (frmTavrin.translate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
