#include "main_window.h"

void OnSaveClicked() {}
