#include "Base/KxError.h"

#include <cstdio>
#include <cstring>

std::string FXCodeLocation::AsString() const
{
    const char* base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    return std::string(base) + ":" + std::to_string(line) + " (" + function + ")";
}

std::string KxFormatV(const char* format, va_list args)
{
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string(format);
    if (static_cast<size_t>(needed) < sizeof small)
        return std::string(small, static_cast<size_t>(needed));
    std::string out(static_cast<size_t>(needed), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

std::string KxFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string out = KxFormatV(format, args);
    va_end(args);
    return out;
}

CKxError::CKxError(long code, std::string message, FXSourceLocation loc)
    : m_state(std::make_unique<State>(State{code, {}}))
{
    m_state->frames.push_back(Frame{std::move(message), FXCodeLocation::From(loc)});
}

CKxError::CKxError(const CKxError& other)
    : m_state(other.m_state ? std::make_unique<State>(*other.m_state) : nullptr)
{
}

CKxError& CKxError::operator=(const CKxError& other)
{
    if (this != &other)
        m_state = other.m_state ? std::make_unique<State>(*other.m_state) : nullptr;
    return *this;
}

CKxError CKxError::FromErrno(int errnum, const std::string& message, FXSourceLocation loc)
{
    char buf[128];
    const char* text = strerror_r(errnum, buf, sizeof buf);
    return CKxError(errnum, message + ": " + text + " (errno " + std::to_string(errnum) + ")", loc);
}

CKxError& CKxError::Push(std::string message, FXSourceLocation loc) &
{
    // Pushing onto success would invent a failure; callers only push onto errors.
    if (m_state)
        m_state->frames.push_back(Frame{std::move(message), FXCodeLocation::From(loc)});
    return *this;
}

CKxError&& CKxError::Push(std::string message, FXSourceLocation loc) &&
{
    if (m_state)
        m_state->frames.push_back(Frame{std::move(message), FXCodeLocation::From(loc)});
    return std::move(*this);
}

std::string CKxError::Message() const
{
    return m_state && !m_state->frames.empty() ? m_state->frames.front().message : std::string();
}

const std::vector<CKxError::Frame>& CKxError::Frames() const
{
    static const std::vector<Frame> none;
    return m_state ? m_state->frames : none;
}

std::string CKxError::OneLine() const
{
    if (!m_state)
        return "Success";
    std::string out;
    for (auto it = m_state->frames.rbegin(); it != m_state->frames.rend(); ++it) {
        if (it->message.empty())
            continue;
        if (!out.empty())
            out += ": ";
        out += it->message;
    }
    for (char& c : out)
        if (c == '\n' || c == '\r')
            c = ' ';
    return out + " (code " + std::to_string(m_state->code) + ")";
}

std::string CKxError::AsString() const
{
    if (!m_state)
        return "Success";
    std::string out = "code=" + std::to_string(m_state->code);
    for (const Frame& f : m_state->frames) {
        if (!f.message.empty())
            out += " [" + f.message + "]";
        out += " at " + f.where.AsString();
        if (&f != &m_state->frames.back())
            out += ";";
    }
    return out;
}
