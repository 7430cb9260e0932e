#include "ui/app/MainWindow.h"
