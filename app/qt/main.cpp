#include "Main.h"

int main(int argc, char** argv) { return postvue::RunApplication(argc, argv); }
