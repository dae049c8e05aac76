#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "remote/remote_install.h"
#include "remote/remote_install_needs.h"
#include "remote/remote_link.h"

namespace tovami::remote::install {
namespace {

HostFacts facts(std::string machine, std::string libc, std::string onPath = {}) {
  return {std::move(machine), std::move(libc), "/home/ada", std::move(onPath)};
}

// Each host Tovami must not be copied to gets the reason in words; the others go ahead.
TEST(RemoteInstall, AHostOfAnotherKindOrOlderCLibraryIsRefusedInWords) {
  const GlibcVersion needs{2, 34};
  const auto words = [&](const HostFacts& f) { return judge("devbox", f, "x86_64", needs).words; };
  EXPECT_EQ(words(facts("aarch64", "glibc 2.36")),
            "Tovami cannot run on devbox: it is aarch64, this Tovami is built for x86_64");
  EXPECT_EQ(words(facts("x86_64", "ldd (Debian GLIBC 2.28-10+deb10u2) 2.28")),
            "Tovami cannot run on devbox: its C library is glibc 2.28, Tovami needs 2.34");
  EXPECT_EQ(words(facts("x86_64", "musl libc (x86_64)")),
            "Tovami cannot run on devbox: its C library is musl, Tovami needs glibc 2.34");
  EXPECT_EQ(words(facts("x86_64", "")), "Tovami cannot run on devbox: its C library is unknown, Tovami needs glibc 2.34");
  EXPECT_EQ(words(facts("", "glibc 2.36")), "Tovami cannot tell what kind of machine devbox is");
  EXPECT_EQ(words(facts("x86_64", "glibc 2.36", "/usr/bin/tovami")),
            "devbox has a tovami of its own at /usr/bin/tovami, which Tovami leaves alone: update it there");
  for (const auto& ok : {facts("x86_64", "glibc 2.34"), facts("x86_64", "ldd (GNU libc) 2.39"),
                         facts("x86_64", "ldd (Ubuntu GLIBC 2.35-0ubuntu3.8) 2.35", "/home/ada/.local/bin/tovami")})
    EXPECT_TRUE(judge("devbox", ok, "x86_64", needs).install) << ok.libc;
  EXPECT_TRUE(judge("devbox", facts("x86_64", "musl libc (x86_64)"), "x86_64", {}).install);  // needs no glibc
  EXPECT_FALSE(glibcVersionNeed("GLIBC_PRIVATE"));
  EXPECT_EQ(glibcVersionNeed("GLIBC_2.2.5"), (GlibcVersion{2, 2}));
}

// A login shell's own chatter around the marked lines is skipped; output without them is no answer.
TEST(RemoteInstall, TheProbesLinesAreFoundAmongOthers) {
  const auto found = parseProbe("Welcome to devbox\ntovami-probe machine x86_64\r\ntovami-probe libc glibc 2.36\n"
                                "tovami-probe home /home/ada\ntovami-probe path \nlast login: never");
  ASSERT_TRUE(found);
  EXPECT_EQ(std::tie(found->machine, found->libc, found->home, found->onPath),
            std::make_tuple("x86_64", "glibc 2.36", "/home/ada", ""));
  EXPECT_FALSE(parseProbe("sh: 1: uname: not found\n"));
  EXPECT_TRUE(copied("tovami-installed 4096\n", 4096));
  EXPECT_TRUE(copied("   tovami-installed     4096\n", 4096));
  EXPECT_FALSE(copied("tovami-installed 4095\n", 4096));
  EXPECT_FALSE(copied("", 0));
}

// The glibc this very program needs is read from its version needs; cut bytes are refused.
TEST(RemoteInstall, TheNewestGlibcNeededIsReadFromTheProgramAndCutFilesAreRefused) {
  std::ostringstream read;
  read << std::ifstream("/proc/self/exe", std::ios::binary).rdbuf();
  const std::string self = read.str();
  const auto needs = newestGlibcNeeded(self);
  ASSERT_TRUE(needs);
  EXPECT_GE(*needs, (GlibcVersion{2, 2}));
  for (size_t size : {size_t(0), size_t(63), size_t(64), self.size() / 2, self.size() - 1})
    EXPECT_FALSE(newestGlibcNeeded(std::string_view(self).substr(0, size))) << size;
  std::string wrong = self;
  wrong[4] = 1;  // 32-bit
  EXPECT_FALSE(newestGlibcNeeded(wrong));
}

// The button shows exactly for the link's words for a missing remote side.
TEST(RemoteInstall, SettingsOffersTheInstallForAMissingRemoteSideAlone) {
  EXPECT_TRUE(offersInstall(linkFailureText("devbox", 127, "sh: 1: exec: tovami: not found\n")));
  EXPECT_FALSE(offersInstall(linkFailureText("devbox", 255, "Permission denied (publickey).\n")));
  EXPECT_FALSE(offersInstall("connected"));
}

}  // namespace
}  // namespace tovami::remote::install
