#include "Main.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  return postvue::RunApplication(instance, showCommand);
}
