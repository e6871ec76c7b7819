#include "main_window.h"

void OnOpenClicked() {}
