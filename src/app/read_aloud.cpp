#include "app/read_aloud.h"
