#include "linux/nap/pam_authenticator.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>

#include "linux/agents/process_runner.h"
#include "linux/files/regular_file.h"
#include "linux/files/shared_library.h"
#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr double kStatusTimeout = 2.0;

// libpam is loaded at the first password check, not linked: most naps ask for none. Its symbols are
// looked up in the program's scope, where a preloaded stand-in (the tests' pam_wrapper) answers first.
struct PamLibrary {
  decltype(&::pam_start) start = nullptr;
  decltype(&::pam_authenticate) authenticate = nullptr;
  decltype(&::pam_acct_mgmt) acctMgmt = nullptr;
  decltype(&::pam_strerror) strerror = nullptr;
  decltype(&::pam_end) end = nullptr;
};

// Null when libpam cannot be loaded (said once in the log); asked once.
const PamLibrary* pamLibrary() {
  static const PamLibrary* loaded = []() -> const PamLibrary* {
    const SharedLibrary library("libpam.so.0", SharedLibrary::Lookup::global);
    static PamLibrary pam;
    const bool complete = library.resolve("pam_start", pam.start) &&
                          library.resolve("pam_authenticate", pam.authenticate) &&
                          library.resolve("pam_acct_mgmt", pam.acctMgmt) &&
                          library.resolve("pam_strerror", pam.strerror) && library.resolve("pam_end", pam.end);
    if (!complete) {
      logError(log_categories::kPower, "the password cannot be checked: libpam (libpam.so.0) cannot be loaded");
      return nullptr;
    }
    return &pam;
  }();
  return loaded;
}

struct Conversation {
  const char* user;
  const char* password;
};

int converse(int count, const struct pam_message** messages, struct pam_response** responses, void* data) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG || !data) return PAM_CONV_ERR;
  auto* conversation = static_cast<Conversation*>(data);
  auto* replies = static_cast<pam_response*>(std::calloc(size_t(count), sizeof(pam_response)));
  if (!replies) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        replies[i].resp = strdup(conversation->password);
        break;
      case PAM_PROMPT_ECHO_ON:
        replies[i].resp = strdup(conversation->user);
        break;
      default:  // information and error texts need no answer
        break;
    }
  }
  *responses = replies;
  return PAM_SUCCESS;
}

std::string currentUser() {
  std::string name;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size_t(size > 0 ? size : 16384), '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    name = found->pw_name;
  return name;
}

// A passwd entry whose password field is empty has no password to check.
bool userHasPassword() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size_t(size > 0 ? size : 16384), '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  return found->pw_passwd && found->pw_passwd[0] != '\0';
}

// Where PAM looks for a service's stack, in order.
std::vector<std::filesystem::path> pamFolders() {
  std::vector<std::filesystem::path> folders;
  const char* wrapper = std::getenv("PAM_WRAPPER");
  const char* wrapperDir = std::getenv("PAM_WRAPPER_SERVICE_DIR");
  if (wrapper && std::string(wrapper) == "1" && wrapperDir && *wrapperDir) folders.emplace_back(wrapperDir);
  folders.emplace_back("/etc/pam.d");
  folders.emplace_back("/usr/lib/pam.d");
  return folders;
}

// Modules of an auth stack that accept no password of their own: beside pam_unix they cannot let
// in a password pam_unix refuses (pam_permit lets in any, so with it nothing is ever stuck).
bool acceptsNoPasswordItself(std::string_view module) {
  static constexpr std::string_view kModules[] = {
      "pam_deny.so",      "pam_permit.so",        "pam_env.so",     "pam_faildelay.so", "pam_nologin.so",
      "pam_securetty.so", "pam_shells.so",        "pam_cap.so",     "pam_group.so",     "pam_faillock.so",
      "pam_tally2.so",    "pam_succeed_if.so",    "pam_access.so",  "pam_time.so",      "pam_listfile.so",
      "pam_warn.so",      "pam_gnome_keyring.so", "pam_kwallet5.so"};
  return std::find(std::begin(kModules), std::end(kModules), module) != std::end(kModules);
}

// True when the service's auth lines (includes and substacks followed) name pam_unix and
// otherwise only modules that accept no password themselves. False when a file cannot be read.
bool authRestsOnLocalPassword(const std::string& service, int depth, bool* sawUnix = nullptr) {
  bool unix = false;
  if (!sawUnix) sawUnix = &unix;
  if (depth > 8 || service.empty() || service.find('/') != std::string::npos) return false;
  std::string text, why;
  bool found = false;
  for (const auto& folder : pamFolders()) {
    const FileRead read = readRegularFile((folder / service).string(), 64 * 1024, text, why);
    if (read == FileRead::unreadable) return false;
    if ((found = read == FileRead::read)) break;
  }
  if (!found) return false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string type, control, module;
    if (!(words >> type)) continue;
    if (type == "@include") {
      if (!(words >> module) || !authRestsOnLocalPassword(module, depth + 1, sawUnix)) return false;
      continue;
    }
    if (type != "auth" && type != "-auth") continue;
    if (!(words >> control)) return false;
    while (control.front() == '[' && control.back() != ']') {  // "[success=1 default=ignore]"
      std::string more;
      if (!(words >> more)) return false;
      control += " " + more;
    }
    if (!(words >> module)) return false;
    if (control == "include" || control == "substack") {
      if (!authRestsOnLocalPassword(module, depth + 1, sawUnix)) return false;
      continue;
    }
    module = module.substr(module.rfind('/') + 1);
    if (module == "pam_unix.so")
      *sawUnix = true;
    else if (!acceptsNoPasswordItself(module))
      return false;
  }
  return depth > 0 || *sawUnix;
}

void wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

class PamContext final : public AuthenticationContext, public std::enable_shared_from_this<PamContext> {
 public:
  explicit PamContext(std::function<QWidget*()> promptHost) : promptHost_(std::move(promptHost)) {}
  ~PamContext() override { closePrompt(); }

  bool canEvaluateOwnerAuthentication() override {
    if (!promptHost_ || !promptHost_()) return false;
    service_ = resolvePamService();
    if (!service_) {
      logError(log_categories::kPower, "no PAM service for the password check; waking without it");
      return false;
    }
    user_ = currentUser();
    if (user_.empty() || !userHasPassword()) {
      logError(log_categories::kPower, "the account has no password to check; waking without it");
      return false;
    }
    return pamAccountUsable(*service_, user_) && !localPasswordLocked(*service_, user_);
  }

  void evaluateOwnerAuthentication(const std::string& reason,
                                   std::function<void(AuthOutcome)> reply) override {
    reply_ = std::move(reply);
    QWidget* host = promptHost_ ? promptHost_() : nullptr;
    if (!host || !service_) {
      answer(AuthOutcome::unavailable);
      return;
    }
    logInfo(log_categories::kNap, "nap: asking for the password");
    prompt_ = new PasswordPrompt(host, QString::fromStdString(reason));
    std::weak_ptr<PamContext> weak = weak_from_this();
    prompt_->onDone = [weak](std::optional<std::string> password) {
      if (auto self = weak.lock()) self->check(std::move(password));
    };
  }

  void invalidate() override {
    closePrompt();
    answer(AuthOutcome::refused);
  }

 private:
  void check(std::optional<std::string> password) {
    if (!password) {
      closePrompt();
      answer(AuthOutcome::refused);
      return;
    }
    if (prompt_) prompt_->showChecking();
    std::weak_ptr<PamContext> weak = weak_from_this();
    try {
      startCheck(weak, std::move(*password));
    } catch (const std::system_error&) {  // no thread to be had: count it as a failed attempt
      closePrompt();
      answer(AuthOutcome::refused);
    }
  }

  void startCheck(std::weak_ptr<PamContext> weak, std::string password) {
    std::thread([weak, service = *service_, user = user_, secret = std::move(password)]() mutable {
      const AuthOutcome outcome = checkPasswordWithPam(service, user, secret);
      wipe(secret);
      if (outcome == AuthOutcome::succeeded) logInfo(log_categories::kNap, "nap: password accepted");
      if (outcome == AuthOutcome::refused) logInfo(log_categories::kNap, "nap: password refused");
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [weak, outcome] {
            if (auto self = weak.lock()) {
              self->closePrompt();
              self->answer(outcome);
            }
          },
          Qt::QueuedConnection);
    }).detach();
  }

  void closePrompt() {
    if (prompt_) {
      prompt_->onDone = nullptr;
      prompt_->hide();
      prompt_->deleteLater();
    }
    prompt_ = nullptr;
  }

  void answer(AuthOutcome outcome) {
    if (auto reply = std::move(reply_)) {
      reply_ = nullptr;
      reply(outcome);
    }
  }

  std::function<QWidget*()> promptHost_;
  std::optional<std::string> service_;
  std::string user_;
  std::function<void(AuthOutcome)> reply_;
  QPointer<PasswordPrompt> prompt_;
};

}  // namespace

AuthOutcome checkPasswordWithPam(const std::string& service, const std::string& user,
                                 const std::string& password) {
  const PamLibrary* pam = pamLibrary();
  if (!pam) return AuthOutcome::unavailable;
  Conversation conversation{user.c_str(), password.c_str()};
  const pam_conv conv{&converse, &conversation};
  pam_handle_t* handle = nullptr;
  int status = pam->start(service.c_str(), user.c_str(), &conv, &handle);
  if (status != PAM_SUCCESS) {
    logError(log_categories::kPower,
             "the password cannot be checked: pam_start failed (" + std::to_string(status) + ")");
    return AuthOutcome::unavailable;
  }
  AuthOutcome outcome = AuthOutcome::succeeded;
  const char* step = "pam_authenticate";
  status = pam->authenticate(handle, 0);
  if (status == PAM_AUTH_ERR || status == PAM_MAXTRIES) {
    outcome = AuthOutcome::refused;  // a wrong password: the owner may try again
  } else if (status != PAM_SUCCESS) {
    outcome = AuthOutcome::unavailable;
  } else {
    step = "pam_acct_mgmt";
    status = pam->acctMgmt(handle, 0);
    // An expired password was still typed correctly by the owner; a locked or expired account
    // will refuse every try.
    if (status == PAM_NEW_AUTHTOK_REQD) status = PAM_SUCCESS;
    if (status != PAM_SUCCESS) outcome = AuthOutcome::unavailable;
  }
  if (outcome == AuthOutcome::unavailable)
    logError(log_categories::kPower, std::string("the password cannot be checked: ") + step + ": " +
                                         pam->strerror(handle, status) + " (" + std::to_string(status) + ")");
  pam->end(handle, status);
  return outcome;
}

bool pamAccountUsable(const std::string& service, const std::string& user) {
  // Without libpam no password can be checked either: the wake must not wait for one.
  const PamLibrary* pam = pamLibrary();
  if (!pam) return false;
  const pam_conv conv{&converse, nullptr};  // asks nothing: a prompt here fails the conversation
  pam_handle_t* handle = nullptr;
  int status = pam->start(service.c_str(), user.c_str(), &conv, &handle);
  if (status == PAM_SUCCESS) status = pam->acctMgmt(handle, PAM_SILENT);
  // Only answers that no password can change count; anything else is left to the real check.
  bool usable = true;
  switch (status) {
    case PAM_USER_UNKNOWN:
    case PAM_ACCT_EXPIRED:
    case PAM_PERM_DENIED:
    case PAM_AUTHINFO_UNAVAIL:
    case PAM_SYSTEM_ERR:
    case PAM_SERVICE_ERR:
    case PAM_MODULE_UNKNOWN:
    case PAM_SYMBOL_ERR:
    case PAM_ABORT:
    case PAM_BUF_ERR:
      usable = false;
      logError(log_categories::kPower,
               "the password cannot be checked: pam_acct_mgmt: " + std::string(pam->strerror(handle, status)) +
                   " (" + std::to_string(status) + "); waking without it");
      break;
    default:
      break;
  }
  if (handle) pam->end(handle, status);
  return usable;
}

bool localPasswordLocked(const std::string& service, const std::string& user) {
  if (!authRestsOnLocalPassword(service, 0)) return false;
  const QString tool = QStandardPaths::findExecutable("passwd");
  if (tool.isEmpty()) return false;
  const ToolRun run = PosixProcessLauncher().run(tool.toStdString(), {"-S"}, kStatusTimeout);
  if (run.outcome != ToolRun::Outcome::finished) return false;
  // "NAME L 2026-01-01 0 99999 7 -1" (shadow's), "NAME LK 2026-01-01 0 99999 7 -1 (Password
  // locked.)" (others'). Without the ageing fields the status comes from the passwd entry, whose
  // "*" only means that the password lives elsewhere (a directory service).
  std::istringstream line(run.output.substr(0, run.output.find('\n')));
  std::vector<std::string> fields;
  for (std::string field; fields.size() < 7 && line >> field;) fields.push_back(field);
  if (fields.size() < 7 || fields[0] != user || (fields[1] != "L" && fields[1] != "LK")) return false;
  logError(log_categories::kPower, "the password cannot be checked: the account's password is locked (" +
                                       tool.toStdString() + " -S); waking without it");
  return true;
}

std::optional<std::string> resolvePamService() {
  const auto folders = pamFolders();
  for (const char* service : {"tovami", "login"}) {
    for (const auto& folder : folders) {
      std::error_code error;
      if (std::filesystem::is_regular_file(folder / service, error)) return std::string(service);
    }
  }
  return std::nullopt;
}

PasswordPrompt::PasswordPrompt(QWidget* host, const QString& reason) : QFrame(host) {
  setObjectName("passwordPrompt");
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(
      "#passwordPrompt { background: rgb(30,25,21); border: 1px solid rgba(217,119,87,150); border-radius: "
      "14px; }"
      "QLabel { color: rgb(243,238,231); background: transparent; }"
      "QLabel#detail { color: rgb(169,158,144); }"
      "QLineEdit { background: rgb(20,17,16); color: rgb(250,249,245); border: 1px solid rgb(180,85,45);"
      " border-radius: 6px; padding: 6px 8px; selection-background-color: rgb(217,119,87); }");
  setCursor(Qt::ArrowCursor);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(12);
  auto* title = new QLabel("Tovami", this);
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.3);
  font.setBold(true);
  title->setFont(font);
  auto* detail = new QLabel("Enter your password to " + reason + ".", this);
  detail->setObjectName("detail");
  detail->setWordWrap(true);
  field_ = new QLineEdit(this);
  field_->setEchoMode(QLineEdit::Password);
  field_->setPlaceholderText("Password");
  status_ = new QLabel("Return to unlock \u00b7 Escape to go back to the nap", this);
  status_->setObjectName("detail");
  layout->addWidget(title);
  layout->addWidget(detail);
  layout->addWidget(field_);
  layout->addWidget(status_);
  connect(field_, &QLineEdit::returnPressed, this, [this] {
    std::string password = field_->text().toStdString();
    field_->clear();
    finish(std::move(password));
  });
  setFixedWidth(440);
  adjustSize();
  place();
  host->installEventFilter(this);
  show();
  raise();
  field_->setFocus(Qt::OtherFocusReason);
}

void PasswordPrompt::place() {
  if (!parentWidget()) return;
  const QRect area = parentWidget()->rect();
  move(area.center().x() - width() / 2, area.center().y() - height() / 2);
}

void PasswordPrompt::showChecking() {
  // Keys typed while the check runs stay with the prompt (Escape still cancels).
  setFocusPolicy(Qt::StrongFocus);
  setFocus(Qt::OtherFocusReason);
  field_->setEnabled(false);
  status_->setText("Checking\u2026");
}

void PasswordPrompt::finish(std::optional<std::string> password) {
  if (auto done = onDone) done(std::move(password));
}

void PasswordPrompt::keyPressEvent(QKeyEvent* event) {
  // Every key stays with the prompt: typing a password is not a poke.
  if (event->key() == Qt::Key_Escape) finish(std::nullopt);
  event->accept();
}

void PasswordPrompt::mousePressEvent(QMouseEvent* event) {
  event->accept();  // a click on the prompt is not a second wake gesture
}

bool PasswordPrompt::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) place();
  return QFrame::eventFilter(watched, event);
}

PamAuthenticator::PamAuthenticator(std::function<QWidget*()> promptHost)
    : promptHost_(std::move(promptHost)) {}

std::shared_ptr<AuthenticationContext> PamAuthenticator::makeContext() {
  return std::make_shared<PamContext>(promptHost_);
}

}  // namespace tovami::linux_backend
