#pragma once

#include <string>

#include "CommLogReader.h"
#include "DecodeReport.h"

// A serial port's log: both directions' bytes are cut into SLIP frames, the
// frames checked and matched with their answers, and the data of the good
// ones cut into tunnel packets, whose socket ids are followed to their end.
TFileDecode DecodeLineLog(const std::string& source, const TCommLog& log);

// A socket's log: one connection after another (the file is named after the
// descriptor, which later connections reuse), with the bytes each way.
TFileDecode DecodeSocketLog(const std::string& source, const TCommLog& log);
