#include "Engine/WorkUnitManager.h"

#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"

#include <fstream>
#include <sstream>

namespace {
// Mount points in the mount table escape blanks, tabs, newlines and backslashes as \ooo.
std::string UnescapeMountField(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '7' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string> ReadMountPoints()
{
    std::vector<std::string> points;
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, devices, root, mountPoint;
        if (fields >> id >> parent >> devices >> root >> mountPoint)
            points.push_back(UnescapeMountField(mountPoint));
    }
    return points;
}

}  // namespace

CWorkUnitManager::CWorkUnitManager(long long jobId) : m_jobId(jobId) {}

CWorkUnitManager::~CWorkUnitManager() = default;

void CWorkUnitManager::SetMountPoints(std::vector<std::string> mountPoints)
{
    m_mountPoints = std::move(mountPoints);
    m_mountPointsGiven = true;
}

std::string CWorkUnitManager::GetVolumeOf(const std::string& path) const
{
    std::string best = "/";
    for (const std::string& point : m_mountPoints) {
        std::string trimmed = FXPath::TrimTrailingSlashes(point);
        if (trimmed.size() > best.size() && FXPath::IsUnder(path, trimmed))
            best = trimmed;
    }
    return best;
}

void CWorkUnitManager::AddWorkUnit(const std::string& key, CWorkUnitPtr unit) { m_units[key] = std::move(unit); }

CKxError CWorkUnitManager::FinalizeWorkUnits(const std::vector<std::string>& content,
                                             const std::vector<std::string>& contentExceptions,
                                             const std::vector<std::string>& filters,
                                             const std::vector<std::string>& filterExceptions,
                                             const std::vector<std::string>& systemFilters,
                                             const std::vector<std::string>& systemFilterExceptions)
{
    FSTRACE();
    if (!m_mountPointsGiven)
        m_mountPoints = ReadMountPoints();
    const bool wildcardCaseInsensitive = m_configurationBag && m_configurationBag->GetBool("SC::WildCardISC");

    for (const std::string& path : content) {
        const std::string volume = GetVolumeOf(CWorkUnit::GetWalkRootOf(path));
        CWorkUnitPtr& unit = m_units[volume];
        if (!unit) {
            unit = std::make_shared<CWorkUnit>(volume, volume);
            unit->SetWildcardCaseInsensitive(wildcardCaseInsensitive);
            if (m_defaultContext)
                for (const std::string& key : m_defaultContext->Keys()) {
                    std::any value;
                    if (m_defaultContext->ReadAny(key, value).IsSuccess())
                        (void)unit->GetBag()->WriteAny(key, std::move(value));
                }
            FSLOG(3, "Work unit for volume [%s]", volume.c_str());
        }
        KX_RETURN_IF_FAILED(unit->AddScanContentItem(path), "Cannot add scan content [%s]", path.c_str());
    }

    for (auto& [key, unit] : m_units) {
        if (!unit)
            return CKxError(KxCode::InvalidParameter, KxFormat("NULL work unit found in list, key=%s", key.c_str()));
        for (const std::string& entry : contentExceptions)
            KX_RETURN_IF_FAILED(unit->AddScanContentExceptionItem(entry), "Cannot add [%s]", entry.c_str());
        for (const std::string& entry : filters)
            KX_RETURN_IF_FAILED(unit->AddFilterItem(entry), "Cannot add [%s]", entry.c_str());
        for (const std::string& entry : filterExceptions)
            KX_RETURN_IF_FAILED(unit->AddFilterExceptionItem(entry), "Cannot add [%s]", entry.c_str());
        for (const std::string& entry : systemFilters)
            KX_RETURN_IF_FAILED(unit->AddSystemFilterItem(entry), "Cannot add [%s]", entry.c_str());
        for (const std::string& entry : systemFilterExceptions)
            KX_RETURN_IF_FAILED(unit->AddSystemFilterExceptionItem(entry), "Cannot add [%s]", entry.c_str());
    }
    return CKxError::Success();
}
