#include "Scan/ScanProgress.h"

#include "Base/KxError.h"

#include <unistd.h>

namespace {
constexpr std::chrono::milliseconds kRedraw{500};
}

CScanProgress::CScanProgress(FILE* out, BytesSource bytes)
    : m_out(out), m_bytes(std::move(bytes)), m_start(std::chrono::steady_clock::now())
{
}

CScanProgress::~CScanProgress() { Stop(); }

bool CScanProgress::ShouldShow() { return ::isatty(STDERR_FILENO) == 1; }

void CScanProgress::SetUnits(std::vector<CWorkUnitPtr> units)
{
    std::lock_guard lock(m_unitsLock);
    for (const CWorkUnitPtr& unit : m_units)
        m_itemsOfEarlierPasses += unit->GetItemCount();
    m_units = std::move(units);
    m_lastCounts.assign(m_units.size(), 0);
}

void CScanProgress::Start()
{
    if (m_thread.joinable() || !m_out)
        return;
    m_start = std::chrono::steady_clock::now();
    m_thread = std::thread([this] { ThreadBody(); });
}

void CScanProgress::Stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_unitsLock);
        m_stop = true;
    }
    m_wakeUp.notify_all();
    m_thread.join();
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
}

void CScanProgress::ThreadBody()
{
    std::unique_lock lock(m_unitsLock);
    while (!m_stop) {
        m_wakeUp.wait_for(lock, kRedraw, [this] { return m_stop; });
        if (m_stop)
            break;
        lock.unlock();
        Draw();
        lock.lock();
    }
}

void CScanProgress::Draw()
{
    std::uint64_t items = 0;
    std::string unitName;
    {
        std::lock_guard lock(m_unitsLock);
        items = m_itemsOfEarlierPasses;
        for (size_t i = 0; i < m_units.size(); ++i) {
            const std::uint64_t count = m_units[i]->GetItemCount();
            items += count;
            if (count != m_lastCounts[i]) {
                m_lastCounts[i] = count;
                m_currentUnit = m_units[i]->GetKey();
            }
        }
        unitName = m_currentUnit;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const std::string line = FormatLine(items, m_bytes ? m_bytes() : 0, seconds, unitName);
    std::fprintf(m_out, "\r\033[K%s", line.c_str());
    std::fflush(m_out);
}

std::string CScanProgress::GroupDigits(std::uint64_t value)
{
    std::string digits = std::to_string(value);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string CScanProgress::HumanBytes(std::uint64_t bytes)
{
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        value /= 1024.0;
        ++unit;
    }
    return KxFormat("%.1f %s", value, kUnits[unit]);
}

std::string CScanProgress::FormatLine(std::uint64_t items, std::uint64_t bytes, double seconds, const std::string& unit)
{
    const std::uint64_t rate = seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(items) / seconds) : 0;
    std::string line = "fsweep: " + GroupDigits(items) + " items  " + HumanBytes(bytes) + "  " + GroupDigits(rate) +
                       " items/s";
    if (!unit.empty())
        line += "  " + unit;
    return line;
}

std::string CScanProgress::FormatSummary(std::uint64_t items, std::uint64_t folders, std::uint64_t bytes,
                                         std::uint64_t failures, double seconds)
{
    return "fsweep: " + GroupDigits(items) + " items (" + GroupDigits(folders) + " folders), " + HumanBytes(bytes) +
           ", " + GroupDigits(failures) + (failures == 1 ? " failure, " : " failures, ") + KxFormat("%.1f s", seconds);
}
