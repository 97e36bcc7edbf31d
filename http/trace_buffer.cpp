// The one trace buffer that every trace line is formatted in.
#include "http/trace_buffer.h"

WCHAR TraceBuffer[kTraceBufferLength];
