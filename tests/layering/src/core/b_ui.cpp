#include "ui/play/PlayPage.h"
