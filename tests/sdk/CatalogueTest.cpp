#include "SdkRig.h"
