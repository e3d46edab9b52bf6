#include "app/FileUnit.h"
