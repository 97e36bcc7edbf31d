#include "http/trace_buffer.h"

WCHAR TraceBuffer[kTraceBufferLength];
