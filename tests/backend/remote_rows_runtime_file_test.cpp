// The listing's read of the desktop's rows file: only this user's own, owner-only, regular file of a
// writer that still runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "linux/remote/remote_rows_runtime_file.h"
#include "remote/remote_protocol.h"

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;

TEST(RemoteRowsRuntimeFile, ReadsOnlyTheOwnFileOfARunningWriter) {
  char pattern[] = "/tmp/tovami-rows-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path folder = pattern, file = folder / remote::kRemoteRowsFile;
  const auto cleanup = std::shared_ptr<void>(nullptr, [&folder](void*) { fs::remove_all(folder); });
  AgentSession row{.pid = 77, .agentName = "Codex", .projectName = "api", .startedAt = 1'700'000'000};
  row.host = "devbox";
  remote::RemoteRowsSnapshot snapshot;
  snapshot.show("devbox", {row});
  const auto write = [&](const remote::RowsWriter& writer) {
    fs::remove(file);
    std::ofstream(file) << snapshot.serialized(writer);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  };
  const auto rows = [&] { return readRemoteRows(folder, 1'700'000'600).size(); };

  write(thisRowsWriter());
  EXPECT_EQ(rows(), 1u);
  fs::permissions(file, fs::perms::group_read, fs::perm_options::add);
  EXPECT_EQ(rows(), 0u) << "a file others may read was not written by Tovami";
  if (::geteuid() == 0) {
    write(thisRowsWriter());
    ASSERT_EQ(::chown(file.c_str(), 4242, 4242), 0);
    EXPECT_EQ(rows(), 0u) << "another user's file";
  }

  // A link in its place, even to a good file.
  write(thisRowsWriter());
  fs::rename(file, folder / "real");
  fs::create_symlink(folder / "real", file);
  EXPECT_EQ(rows(), 0u);

  // A crashed writer's file: its pid is gone, or reused by another process (another start).
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  write({child, thisRowsWriter().startTicks});
  EXPECT_EQ(rows(), 0u);
  write({thisRowsWriter().pid, thisRowsWriter().startTicks + 1});
  EXPECT_EQ(rows(), 0u);
}

}  // namespace
}  // namespace tovami::linux_backend
