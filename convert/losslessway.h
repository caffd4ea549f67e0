// Outputs made from a JPEG's coefficients instead of its pixels: a JPEG
// turned without loss, a JPEG carried into JPEG XL so that it can be given
// back byte for byte, and such a JPEG given back.
#pragma once

#include "convert/convertjob.h"
#include "convert/filepreparer.h"

#include <string>

// Makes r's output of source so (r's types set, the plan LosslessTransform):
// true with r Encoded; false when this file cannot be, and r is untouched
// (it is then decoded and encoded as usual).
bool PrepareFromCoefficients(const CConvertJob &job, const std::string &source, PreparedFile &r);
