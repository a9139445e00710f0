#include "app/exam_commands.h"
