// The journal incremental against the walking incremental: twin instances back up the same tree,
// A reading the change journal its daemon keeps, B walking. After a full of both, 30 rounds of
// random changes from a fixed seed (FSWEEP_JOURNAL_SEED picks another), each followed by an
// incremental and its backup phase on A and on B. Every round both must select the same items
// (A may add only files whose data changed while their times were put back) and report the same
// deletions, and A must not walk unless a cause that makes it walk applies in that round.
//
//   ctest --test-dir build -R ChangeJournalDifferential
#include "ChangeJournalFixture.h"

#include "Base/FileNameEscaping.h"

#include <functional>
#include <random>
#include <unordered_set>

namespace {

using namespace e2e;

constexpr int kRounds = 30;
constexpr int kChangesPerRound = 40;
constexpr std::uint64_t kDefaultSeed = 19;

// The tree under change and what the changes did. Paths are relative to the data folder ("" is the
// folder itself); folders without their '/'.
class TreeChanger {
public:
    TreeChanger(std::string data, std::string outside, std::uint64_t seed)
        : m_data(std::move(data)), m_outside(std::move(outside)), m_random(seed)
    {
    }

    // 1,000 folders three levels deep, files spread over them, some files with a second name in
    // another folder and some symbolic links: `items` entries in all.
    void Make(int items)
    {
        fs::create_directories(Abs(""));
        fs::create_directories(m_outside);
        m_folders.push_back("");
        for (int top = 0; top < 20; ++top) {
            const std::string a = NewFolder("");
            for (int middle = 0; middle < 7; ++middle) {
                const std::string b = NewFolder(a);
                for (int low = 0; low < 6; ++low)
                    NewFolder(b);
            }
        }
        const int pairs = 150, symlinks = 100;
        const int files = items - static_cast<int>(m_folders.size()) - 2 * pairs - symlinks;
        for (int file = 0; file < files; ++file)
            NewFile(PickFolder());
        for (int pair = 0; pair < pairs; ++pair) {
            const std::string first = NewFile(PickFolder());
            Link(first, PickFolder());
        }
        for (int link = 0; link < symlinks; ++link)
            Symlink();
    }

    // One round of `count` random changes; with `linkSingles`, new names may be given to files
    // that had only one at the last scan.
    void Round(int count, bool linkSingles)
    {
        done.clear();
        quietWrites.clear();
        linkedSingle = false;
        m_namedOutside.clear();
        struct SChange {
            const char* name;
            int weight;
            std::function<bool()> make;
        };
        const std::vector<SChange> changes = {
            {"create", 6, [&] { return !NewFile(PickFolder()).empty(); }},
            {"create folder", 2, [&] { return MakeFolderWithFiles(); }},
            {"write", 6, [&] { return Append(); }},
            {"truncate", 3, [&] { return Truncate(); }},
            {"write, times put back", 2, [&] { return QuietWrite(); }},
            {"rename file", 3, [&] { return MoveFile(false); }},
            {"move file", 3, [&] { return MoveFile(true); }},
            {"rename folder", 2, [&] { return MoveFolder(false); }},
            {"move folder", 2, [&] { return MoveFolder(true); }},
            {"move in with old times", 3, [&] { return MoveIn(false); }},
            {"move folder in with old times", 1, [&] { return MoveIn(true); }},
            {"delete file", 4, [&] { return Unlink(m_files); }},
            {"delete folder", 1, [&] { return DeleteFolder(); }},
            {"chmod file", 3, [&] { return Chmod(m_files); }},
            {"chmod folder", 2, [&] { return Chmod(m_folders); }},
            {"link", 2, [&] { return LinkExisting(true); }},
            {"link a single file", linkSingles ? 2 : 0, [&] { return LinkExisting(false); }},
            {"unlink one name", 2, [&] { return Unlink(m_files, true); }},
            {"name made and removed outside", 1, [&] { return NameMadeOutside(); }},
            {"symlink", 2, [&] { return Symlink(); }},
            {"delete symlink", 1, [&] { return Unlink(m_symlinks); }},
        };
        int total = 0;
        for (const SChange& change : changes)
            total += change.weight;
        for (int made = 0; made < count;) {
            int pick = static_cast<int>(m_random() % static_cast<std::uint64_t>(total));
            const SChange* change = &changes.front();
            for (; pick >= change->weight; ++change)
                pick -= change->weight;
            if (change->make()) {
                done += std::string("  ") + change->name + ": " + m_last + "\n";
                ++made;
            }
        }
    }

    // The non-folders with more than one name now, by inode: what the next scan knows as multi-link.
    void NoteScanned()
    {
        m_multiLink.clear();
        for (const std::string& file : m_files) {
            struct stat status {};
            if (::lstat(Abs(file).c_str(), &status) == 0 && status.st_nlink > 1)
                m_multiLink.insert(status.st_ino);
        }
    }

    std::string Abs(const std::string& rel) const { return rel.empty() ? m_data : m_data + "/" + rel; }
    // Whether `walkCause` is the new link of a file named outside the content this round.
    bool NamedOutside(const std::string& walkCause) const
    {
        return std::any_of(m_namedOutside.begin(), m_namedOutside.end(), [&](const std::string& file) {
            return walkCause.find("a new link [" + escapeFileName(file) + "]") != std::string::npos;
        });
    }

    // What the last round did: its changes, one a line; the files whose data changed with their
    // times put back; whether a file that had one name at the last scan got another.
    std::string done;
    std::set<std::string> quietWrites;
    bool linkedSingle = false;

private:
    std::uint64_t Below(std::size_t n) { return m_random() % n; }
    // A new name; some need escaping in the collect files and the record.
    std::string Name()
    {
        static const char* const kOdd[] = {"", "", "", "", " space", "|bar", "\\back", "\nline", "\x7f", "\xff\xfe"};
        return "n" + std::to_string(++m_names) + kOdd[Below(std::size(kOdd))];
    }
    static std::string Join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }
    const std::string& PickFolder() { return m_folders[Below(m_folders.size())]; }
    std::string NewFolder(const std::string& parent)
    {
        const std::string rel = Join(parent, Name());
        fs::create_directory(Abs(rel));
        m_folders.push_back(rel);
        return rel;
    }
    bool WriteFile(const std::string& path, std::size_t size)
    {
        std::string data(size, '\0');
        for (char& byte : data)
            byte = static_cast<char>('a' + Below(26));
        return WriteBytes(path, data);
    }
    std::string NewFile(const std::string& folder)
    {
        const std::string rel = Join(folder, Name());
        if (!WriteFile(Abs(rel), Below(300)))
            return std::string();
        m_files.push_back(rel);
        m_last = rel;
        return rel;
    }
    bool MakeFolderWithFiles()
    {
        const std::string folder = NewFolder(PickFolder());
        for (std::uint64_t file = Below(4); file > 0; --file)
            NewFile(folder);
        m_last = folder;
        return true;
    }
    bool Link(const std::string& file, const std::string& folder)
    {
        const std::string rel = Join(folder, Name());
        if (::link(Abs(file).c_str(), Abs(rel).c_str()) != 0)
            return false;
        m_files.push_back(rel);
        m_last = file + " as " + rel;
        return true;
    }
    bool Symlink()
    {
        const std::string rel = Join(PickFolder(), Name());
        const std::string targets[] = {"../" + Name(), Abs(m_files.empty() ? "" : m_files[Below(m_files.size())]),
                                       "/nowhere/" + Name()};
        if (::symlink(targets[Below(std::size(targets))].c_str(), Abs(rel).c_str()) != 0)
            return false;
        m_symlinks.push_back(rel);
        m_last = rel;
        return true;
    }
    // A file picked at random, empty when there is none.
    std::string PickFile() { return m_last = m_files.empty() ? std::string() : m_files[Below(m_files.size())]; }
    bool Append() { return static_cast<bool>(std::ofstream(Abs(PickFile()), std::ios::app) << "more" << std::flush); }
    bool Truncate()
    {
        const std::string file = PickFile();
        struct stat status {};
        return ::lstat(Abs(file).c_str(), &status) == 0 && status.st_size > 0 &&
               ::truncate(Abs(file).c_str(), static_cast<off_t>(Below(static_cast<std::size_t>(status.st_size)))) == 0;
    }
    // New data of the same size, then the old access and write times back.
    bool QuietWrite()
    {
        const std::string file = PickFile();
        struct stat status {};
        if (::lstat(Abs(file).c_str(), &status) != 0 || status.st_size == 0)
            return false;
        const int fd = ::open(Abs(file).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        char byte = 0;
        bool rewritten = fd >= 0 && ::pread(fd, &byte, 1, 0) == 1;
        byte = static_cast<char>(byte ^ 1);
        rewritten = rewritten && ::pwrite(fd, &byte, 1, 0) == 1;
        const timespec times[2] = {status.st_atim, status.st_mtim};
        if (::close(fd) != 0 || !rewritten || ::utimensat(AT_FDCWD, Abs(file).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        quietWrites.insert(Abs(file));
        return true;
    }
    bool MoveFile(bool across)
    {
        if (m_files.empty())
            return false;
        std::string& file = m_files[Below(m_files.size())];
        const std::string folder = across ? PickFolder() : fs::path(file).parent_path().string();
        const std::string rel = Join(folder, Name());
        if (::rename(Abs(file).c_str(), Abs(rel).c_str()) != 0)
            return false;
        m_last = file + " to " + rel;
        file = rel;
        return true;
    }
    // Every path at or below `from` now lies at or below `to`, or is gone when `to` is empty.
    void Moved(const std::string& from, const std::string& to)
    {
        const auto below = [&](const std::string& path) { return path == from || path.starts_with(from + "/"); };
        for (std::vector<std::string>* list : {&m_files, &m_folders, &m_symlinks}) {
            std::erase_if(*list, [&](const std::string& path) { return to.empty() && below(path); });
            for (std::string& path : *list)
                if (below(path))
                    path = to + path.substr(from.size());
        }
    }
    bool MoveFolder(bool across)
    {
        const std::string folder = PickFolder();
        std::string parent = fs::path(folder).parent_path().string();
        if (across)
            parent = PickFolder();
        if (folder.empty() || parent == folder || parent.starts_with(folder + "/"))
            return false;
        const std::string rel = Join(parent, Name());
        if (::rename(Abs(folder).c_str(), Abs(rel).c_str()) != 0)
            return false;
        Moved(folder, rel);
        m_last = folder + " to " + rel;
        return true;
    }
    // A file, or a folder of files, made outside the content with times long past, moved in.
    bool MoveIn(bool folder)
    {
        const std::string name = Name();
        const std::string outside = m_outside + "/" + name;
        const timespec old[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01
        std::vector<std::string> names;
        if (folder)
            fs::create_directory(outside);
        for (int file = 0; file < (folder ? 3 : 0); ++file) {
            names.push_back(Name());
            WriteFile(outside + "/" + names.back(), 10);
            ::utimensat(AT_FDCWD, (outside + "/" + names.back()).c_str(), old, AT_SYMLINK_NOFOLLOW);
        }
        if (!folder)
            WriteFile(outside, 10);
        ::utimensat(AT_FDCWD, outside.c_str(), old, AT_SYMLINK_NOFOLLOW);
        const std::string rel = Join(PickFolder(), name);
        if (::rename(outside.c_str(), Abs(rel).c_str()) != 0)
            return false;
        (folder ? m_folders : m_files).push_back(rel);
        for (const std::string& file : names)
            m_files.push_back(rel + "/" + file);
        m_last = rel;
        return true;
    }
    // Removes a name of `list`; with `otherNames`, one of a file that has more.
    bool Unlink(std::vector<std::string>& list, bool otherNames = false)
    {
        for (int attempt = 0; attempt < 200 && !list.empty(); ++attempt) {
            const std::size_t which = Below(list.size());
            struct stat status {};
            if (otherNames && (::lstat(Abs(list[which]).c_str(), &status) != 0 || status.st_nlink < 2))
                continue;
            m_last = list[which];
            if (::unlink(Abs(m_last).c_str()) != 0)
                return false;
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(which));
            return true;
        }
        return false;
    }
    // A folder of at most 40 items below it, with all of them.
    bool DeleteFolder()
    {
        const std::string folder = PickFolder();
        if (folder.empty())
            return false;
        std::error_code error;
        if (std::distance(fs::recursive_directory_iterator(Abs(folder)), {}) > 40 ||
            fs::remove_all(Abs(folder), error) == 0 || error)
            return false;
        Moved(folder, "");
        m_last = folder;
        return true;
    }
    bool Chmod(const std::vector<std::string>& list)
    {
        static const mode_t kModes[] = {0600, 0640, 0644, 0700, 0711, 0750, 0755};
        const std::string& rel = list[Below(list.size())];
        struct stat status {};
        const mode_t mode = kModes[Below(std::size(kModes))];
        if (::lstat(Abs(rel).c_str(), &status) != 0 || (status.st_mode & 07777) == mode)
            return false;
        m_last = rel;
        return ::chmod(Abs(rel).c_str(), mode) == 0;
    }
    // A new name, in any folder, of a file that had more than one at the last scan (`known`) or
    // of one that had only one.
    bool LinkExisting(bool known)
    {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const std::string file = PickFile();
            struct stat status {};
            if (::lstat(Abs(file).c_str(), &status) != 0 || m_multiLink.contains(status.st_ino) != known ||
                (known && status.st_nlink < 2))
                continue;
            if (!Link(file, PickFolder()))
                return false;
            linkedSingle = linkedSingle || !known;
            return true;
        }
        return false;
    }
    // Another name given outside the content and taken away again: only the file's change time
    // tells, in a folder no entry event names. (Should the daemon see the file between the two,
    // with two names, A may walk for it.)
    bool NameMadeOutside()
    {
        if (m_files.empty())
            return false;
        m_last = m_files[Below(m_files.size())];
        const std::string other = m_outside + "/o" + std::to_string(++m_names);
        if (::link(Abs(m_last).c_str(), other.c_str()) != 0)
            return false;
        m_namedOutside.push_back(Abs(m_last));
        return ::unlink(other.c_str()) == 0;
    }

    const std::string m_data, m_outside;
    std::mt19937_64 m_random;
    std::vector<std::string> m_files, m_folders, m_symlinks;
    std::unordered_set<ino_t> m_multiLink;
    std::vector<std::string> m_namedOutside;
    std::string m_last;
    int m_names = 0;
};

class ChangeJournalDifferential : public ChangeJournalFixture {};

TEST_F(ChangeJournalDifferential, JournalAndWalkGiveTheSameItemsAndDeletionsEveryRound)
{
    const char* seedText = std::getenv("FSWEEP_JOURNAL_SEED");
    const std::uint64_t seed = seedText ? std::strtoull(seedText, nullptr, 10) : kDefaultSeed;
    SCOPED_TRACE("seed " + std::to_string(seed) + " (FSWEEP_JOURNAL_SEED)");
    const std::string data = m_tree + "/data";
    TreeChanger tree(data, m_tree + "/outside", seed);
    tree.Make(20000);
    // A folder moved over the place of one that had a sub-folder of the same name (round 4): below
    // it lies a file at a path the previous record never held, in a folder it does hold.
    for (const char* folder : {"/zswap", "/zswap/old", "/zswap/old/sub", "/zsrc", "/zsrc/new", "/zsrc/new/sub"})
        ASSERT_EQ(::mkdir((data + folder).c_str(), 0755), 0) << folder;
    for (const char* file : {"/zswap/old/sub/f", "/zsrc/new/sub/f", "/zsrc/new/sub/g"}) {
        const int fd = ::open((data + file).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << file;
        const timespec old[2] = {{1, 0}, {1, 0}};
        ASSERT_EQ(::futimens(fd, old), 0);
        ::close(fd);
    }

    Use("B");
    Subclient({data}, false);
    Use("A");
    Subclient({data}, true);
    if (!StartDaemon())
        GTEST_SKIP() << "fanotify is not permitted here: " << m_daemonErr;
    NextSecond();
    std::map<std::string, std::int64_t> reference;
    // Job `jobId` of `type` on `twin`, against its previous job.
    const auto run = [&](const std::string& twin, int jobId, int type) {
        Use(twin);
        const SJob job = Job(jobId, type, reference[twin]);
        reference[twin] = ReferenceOf(jobId);
        return job;
    };
    for (const std::string twin : {"A", "B"})
        EXPECT_GT(run(twin, 1, 1).items.size(), 20000u) << twin;
    tree.NoteScanned();

    int journalRounds = 0, elsewhere = 0;  // rounds A read the journal; walked for another tree's link
    bool lastWalked = true;
    std::string walks;
    for (int round = 1; round <= kRounds; ++round) {
        const bool linkSingles = round % 10 == 5;
        tree.Round(kChangesPerRound, linkSingles);
        if (round == 3) {  // the content folder's own record lies above every folder the journal names
            ASSERT_EQ(::chmod(data.c_str(), 0750), 0);
        }
        if (round == 4) {
            ASSERT_EQ(::rename((data + "/zswap/old").c_str(), (data + "/zswap/gone").c_str()), 0);
            ASSERT_EQ(::rename((data + "/zsrc/new").c_str(), (data + "/zswap/old").c_str()), 0);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ", changes:\n" + tree.done);
        NextSecond();
        const SJob a = run("A", round + 1, 2), b = run("B", round + 1, 2);
        tree.NoteScanned();
        EXPECT_EQ(a.deletions, b.deletions);
        for (const std::string& item : b.items)
            EXPECT_TRUE(a.items.contains(item)) << "the journal missed [" << item << "]";
        for (const std::string& item : a.items)
            EXPECT_TRUE(b.items.contains(item) || tree.quietWrites.contains(item))
                << "the journal took what the walk did not: [" << item << "]";
        // A walks only for a cause this round gives it: the full left no journal point, or a file
        // that had one name at the last scan got a second one (the scan does not know its other
        // folders); or for what any program changing the file system can cause: a folder handle
        // the daemon could not resolve, a file whose name was removed that it could not place.
        const char* cause = round == 1 ? "no journal point is stored" : tree.linkedSingle ? "a new link" : nullptr;
        const auto said = [&](const char* text) { return text && a.journal.find(text) != std::string::npos; };
        EXPECT_TRUE(!a.Walked() || said(cause) || tree.NamedOutside(a.journal) || a.WalkedForLinkOutside(m_tree) ||
                    said("folder handle could not be resolved") || said("a file that cannot be placed"))
            << "A walked: " << a.journal;
        journalRounds += a.Walked() ? 0 : 1;
        elsewhere += a.Walked() && a.WalkedForLinkOutside(m_tree) ? 1 : 0;
        lastWalked = a.Walked();
        if (a.Walked())
            walks += "  round " + std::to_string(round) + ": " + a.journal + "\n";
        if (HasFailure())
            break;
    }
    // Other tests and programs linking files on this file system while it runs cost rounds too.
    EXPECT_GE(journalRounds + elsewhere, kRounds - 6);
    std::cout << "A read the journal in " << journalRounds << " rounds and walked in\n" << walks;

    // How A's last incremental found its items, as `fsweep why` tells it.
    Use("A");
    const RunResult why = Run(Binary("fsweep"), {"why", "-vm", "A", "-a", "2:5", data}, false);
    EXPECT_NE(why.out.find(lastWalked ? "found its items by a walk" : "found its items by the journal"),
              std::string::npos) << why.out;
}

}  // namespace
