#include "convertjob.h"
