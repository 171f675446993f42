#pragma once
// CFunctionTrace: logs entering and leaving a function at level 2 (the function-trace level).
#include "Base/LogWriter.h"

class CFunctionTrace {
public:
    CFunctionTrace(const char* function, unsigned line) : m_function(function), m_line(line)
    {
        if (CLogWriter::Instance().Enabled(2))
            CLogWriter::Instance().Write(2, m_function, m_line, "Entering");
    }
    ~CFunctionTrace()
    {
        if (CLogWriter::Instance().Enabled(2))
            CLogWriter::Instance().Write(2, m_function, m_line, "Leaving");
    }
    CFunctionTrace(const CFunctionTrace&) = delete;
    CFunctionTrace& operator=(const CFunctionTrace&) = delete;

private:
    const char* m_function;
    unsigned m_line;
};

#define FSTRACE() CFunctionTrace fsFunctionTrace_(__PRETTY_FUNCTION__, __LINE__)
