// Replacing a file whole: links stay links, owner and group stay, a folder that takes no new
// file still lets its file be written.
#include "common/AtomicFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/DiscoPequeno.h"

namespace {

namespace fs = std::filesystem;

std::string Le(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

class AtomicFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char modelo[] = "/tmp/lumora-atomic-XXXXXX";
        pasta = mkdtemp(modelo);
    }
    void TearDown() override {
        (void)std::system(("chattr -i '" + pasta.string() + "/fixa' 2>/dev/null").c_str());
        fs::remove_all(pasta);
    }
    // Every entry of a folder but the ones named.
    std::vector<std::string> Nomes(const fs::path& p) {
        std::vector<std::string> n;
        for (const auto& e : fs::directory_iterator(p)) n.push_back(e.path().filename().string());
        std::sort(n.begin(), n.end());
        return n;
    }
    fs::path pasta;
};

TEST_F(AtomicFileTest, LinksStayLinksAndTheirFilesAreReplaced) {
    fs::create_directories(pasta / "venue" / "dados");
    std::ofstream(pasta / "venue" / "Comandas.xml") << "old";
    fs::create_symlink("venue/Comandas.xml", pasta / "Comandas.xml");       // relative
    fs::create_symlink(pasta / "venue" / "dados", pasta / "Historicos");    // a folder
    fs::create_symlink(pasta / "venue" / "novo.xml", pasta / "Equip.xml");  // not there yet

    common::ReplaceFileContents(pasta / "Comandas.xml", "new");
    common::ReplaceFileContents(pasta / "Historicos" / "H.xml", "rows");
    common::ReplaceFileContents(pasta / "Equip.xml", "equip");

    EXPECT_TRUE(fs::is_symlink(pasta / "Comandas.xml"));
    EXPECT_EQ(Le(pasta / "venue" / "Comandas.xml"), "new");
    EXPECT_TRUE(fs::is_symlink(pasta / "Historicos"));
    EXPECT_EQ(Le(pasta / "venue" / "dados" / "H.xml"), "rows");
    EXPECT_TRUE(fs::is_symlink(pasta / "Equip.xml"));
    EXPECT_EQ(Le(pasta / "venue" / "novo.xml"), "equip");
    EXPECT_EQ(Nomes(pasta),
              (std::vector<std::string>{"Comandas.xml", "Equip.xml", "Historicos", "venue"}));
    EXPECT_EQ(Nomes(pasta / "venue"),
              (std::vector<std::string>{"Comandas.xml", "dados", "novo.xml"}));

    // The temporary files of interrupted saves are looked for beside the real file; one
    // that a copy tool is delivering there under its own name stays.
    const pid_t morto = ::fork();
    ASSERT_GE(morto, 0);
    if (morto == 0) ::_exit(0);
    ::waitpid(morto, nullptr, 0);
    const fs::path nossa =
        pasta / "venue" / (".Comandas.xml.save~" + std::to_string(morto) + ".Ab12Cd");
    std::ofstream(nossa) << "half";
    std::ofstream(pasta / "venue" / ".Comandas.xml.Ab12Cd") << "delivering";
    common::RemoveTemporaryFiles(pasta / "Comandas.xml");
    EXPECT_FALSE(fs::exists(nossa));
    EXPECT_TRUE(fs::exists(pasta / "venue" / ".Comandas.xml.Ab12Cd"));
}

TEST_F(AtomicFileTest, OwnerGroupAndModeAreKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    const fs::path f = pasta / "Config.ini";
    std::ofstream(f) << "a";
    ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    common::ReplaceFileContents(f, "b");
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Le(f), "b");
}

TEST_F(AtomicFileTest, AFolderThatTakesNoNewFileGetsItsFileRewrittenInPlace) {
    const fs::path fixa = pasta / "fixa";
    fs::create_directories(fixa);
    const fs::path f = fixa / "Comandas.xml";
    std::ofstream(f) << "a longer old content";
    // An immutable folder refuses new entries even to root; its files stay writable.
    if (std::system(("chattr +i '" + fixa.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    common::ReplaceFileContents(f, "short");
    EXPECT_EQ(Le(f), "short");
    EXPECT_EQ(Nomes(fixa), (std::vector<std::string>{"Comandas.xml"}));
    // A file that is not there cannot be written that way: the failure is reported.
    EXPECT_THROW(common::ReplaceFileContents(fixa / "Novo.xml", "x"), std::exception);
}

// A full disk, for real: a small file system of its own in a private mount namespace. No
// temporary file can be made (no inode left), then none can be written (no block left): the
// save fails, the old file stays as it was, and nothing is left behind.
TEST_F(AtomicFileTest, AFullDiskFailsTheSaveAndKeepsTheOldFile) {
    const std::string r = lumora::teste::EmDiscoPequeno(pasta, "size=64k,nr_inodes=16", [&] {
        const fs::path f = pasta / "Equip.xml";
        std::ofstream(f) << "old";
        std::vector<fs::path> enchimento;
        for (int i = 0;; ++i) {
            const fs::path e = pasta / ("x" + std::to_string(i));
            const int fd = ::open(e.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd < 0) break;
            ::close(fd);
            enchimento.push_back(e);
        }
        EXPECT_THROW(common::ReplaceFileContents(f, std::string(20000, 'n')), std::exception);
        EXPECT_EQ(Le(f), "old");
        // An inode free, but no room for the bytes.
        fs::remove(enchimento.back());
        {
            std::ofstream grande(pasta / "grande", std::ios::binary);
            const std::string bloco(4096, 'g');
            while (grande.write(bloco.data(), bloco.size()) && grande.flush()) {
            }
        }
        EXPECT_THROW(common::ReplaceFileContents(f, std::string(20000, 'n')), std::exception);
        EXPECT_EQ(Le(f), "old");
        EXPECT_EQ(Nomes(pasta).size(), enchimento.size() + 1);  // no temporary file left
        // Room again: the same save goes through.
        fs::remove(pasta / "grande");
        common::ReplaceFileContents(f, std::string(20000, 'n'));
        EXPECT_EQ(Le(f), std::string(20000, 'n'));
    });
    if (r.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.substr(6);
    EXPECT_EQ(r, "");
}

}  // namespace
