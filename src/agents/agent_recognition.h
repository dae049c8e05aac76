// Which command lines are coding agents, and under which display name.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/processes.h"

namespace tovami {

struct AgentExecutable {
  std::string_view executable;  // lower case, matched exactly
  std::string_view agentName;
};

inline constexpr std::array<AgentExecutable, 27> kAgentExecutables{{
    {"claude", "Claude Code"},
    {"codex", "Codex"},
    {"gemini", "Gemini CLI"},
    {"cursor-agent", "Cursor"},
    {"opencode", "OpenCode"},
    {"droid", "Droid"},
    {"kiro", "Kiro"},
    {"amp", "Amp"},
    {"aider", "Aider"},
    {"goose", "Goose"},
    {"qwen", "Qwen Code"},
    {"copilot", "Copilot CLI"},
    {"kimi", "Kimi Code"},
    {"grok", "Grok CLI"},
    {"deepseek", "DeepSeek CLI"},
    {"trae", "Trae"},
    {"crush", "Crush"},
    {"zcode", "ZCode"},
    {"antigravity", "Antigravity CLI"},
    {"mimocode", "MiMoCode"},
    {"qoder", "Qoder"},
    {"codebuddy", "CodeBuddy"},
    {"workbuddy", "WorkBuddy"},
    {"mistral-vibe", "Mistral Vibe"},
    {"pi-agent", "Pi Agent"},
    {"ohmypi", "Oh My Pi"},
    {"gajae", "Gajae Code"},
}};

// Programs that run an agent given as their first argument.
inline constexpr std::array<std::string_view, 8> kAgentInterpreters{"node",    "bun", "deno", "python",
                                                                    "python3", "sh",  "bash", "zsh"};

// An executable under one of these is an editor extension's private copy, never a user's agent.
inline constexpr std::array<std::string_view, 2> kExcludedAgentPathFragments{"/.vscode/extensions/",
                                                                             "/.cursor/extensions/"};

// The agent name for a command line, or nothing. Background workers of an agent (next argument
// "daemon", "bg-..." or "--bg...") are not agents.
std::optional<std::string> recognizeAgent(std::string_view args);

// The same for a process's real arguments, which may hold spaces ("/home/John Smith/bin/claude").
// The text form above splits a command line at spaces and asks this one.
// Only the first three arguments count.
std::optional<std::string> recognizeAgent(std::span<const std::string_view> argv);

// Whether an agent's process is a helper its agent left behind: a server subcommand of the agent
// itself (the next argument is "serve" or ends in "server", as in "codex app-server --listen ..."),
// no terminal, and adopted by init or the user's service manager (`parent`: the row of
// `row.ppid`, null when the table lacks it). Such a helper outlives the agent that started it and
// is no agent of its own. Other subcommands ("codex exec") are left alone: an agent left running
// after its terminal closed is still at work.
bool isOrphanedAgentHelper(const PSRow& row, const PSRow* parent);

}  // namespace tovami
