// A prompter answered from a script, for driving the main window in tests
// and benchmarks (link quarnel_ui).
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "ui/Prompter.h"

namespace quarnel::testing {

// Records every box and answers from queues; an empty queue answers OK for
// boxes and Cancel for dialogs, and so does an empty path.
class ScriptedPrompter : public Prompter {
 public:
  struct Shown {
    MessageStyle style;
    QString text;
  };
  std::vector<Shown> shown;
  std::deque<bool> answers;
  std::deque<QString> files;
  std::deque<std::optional<int>> targets;
  QString lastFilter;

  bool ShowMessage(QWidget*, MessageStyle style, const QString& text) override {
    shown.push_back({style, text});
    return Next(answers, true);
  }
  std::optional<QString> OpenFileName(QWidget*, const QString&, const QString& filter,
                                      const QString& defaultSuffix) override {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    return NextFile();
  }
  std::optional<QString> SaveFileName(QWidget*, const QString&, const QString& filter,
                                      const QString& defaultSuffix) override {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    return NextFile();
  }
  QString lastSuffix;
  QString targetByName;  // chosen by name when `targets` is empty
  QStringList offeredTargets;  // the names Select Target showed last
  std::vector<int> targetOpenedOn;  // the entry each Select Target opened on
  std::optional<int> ChooseTarget(QWidget*, const QStringList& names, int initial) override {
    offeredTargets = names;
    targetOpenedOn.push_back(initial);
    if (targets.empty() && names.contains(targetByName)) return static_cast<int>(names.indexOf(targetByName));
    return Next(targets, std::optional<int>());
  }
  std::deque<std::optional<SecurityEntry>> securityEntries;
  std::vector<uint16_t> securityTypesAsked;
  std::optional<SecurityEntry> AskSecurityId(QWidget*, uint16_t securityType) override {
    securityTypesAsked.push_back(securityType);
    return Next(securityEntries, std::optional<SecurityEntry>());
  }

 private:
  std::optional<QString> NextFile() {
    const QString path = Next(files, QString());
    if (path.isEmpty()) return std::nullopt;
    return path;
  }
  template <typename T>
  static T Next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
  }
};

}  // namespace quarnel::testing
