// A scripted stand-in for the window: holds the window state, answers the
// questions and file choices queued by the test, and records every call.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "script/window_services.h"

namespace tallo::testing {

class FakeWindowServices : public WindowServices {
  public:
    FakeWindowServices() { texts_[Field::eUserName] = "SYSDBA"; }

    std::string Text(Field field) const override {
        auto it = texts_.find(field);
        return it == texts_.end() ? std::string() : it->second;
    }
    void SetText(Field field, const std::string& text) override {
        texts_[field] = text;
        if (field == Field::Panel3)
            Record("status:" + text);
    }
    bool ExecScriptEnabled() const override { return exec_enabled_; }
    void SetExecScriptEnabled(bool enabled) override { exec_enabled_ = enabled; }

    void ShowInformation(const std::string& text) override {
        information.push_back(text);
        Record("info:" + text);
    }
    bool AskErrorYesNo(const std::string& text) override {
        questions.push_back(text);
        Record("ask:" + text);
        if (answers.empty())
            throw std::logic_error("unexpected question: " + text);
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void SetWindowEnabled(bool enabled) override {
        window_enabled = enabled;
        Record(enabled ? "enable" : "disable");
    }
    void SetCursorValue(std::int16_t value) override {
        cursor = value;
        Record("cursor:" + std::to_string(value));
    }
    std::int16_t CursorValue() const override { return cursor; }
    void ProcessMessages() override {
        ++processed;
        if (on_process)
            on_process();
    }
    OpenFileDialog& OD() override { return od; }
    bool ExecuteOD() override {
        shown_dialogs.push_back(od);
        Record("od:" + od.title);
        if (file_choices.empty())
            throw std::logic_error("unexpected file dialog: " + od.title);
        std::optional<std::string> choice = file_choices.front();
        file_choices.pop_front();
        if (!choice)
            return false;
        od.file_name = *choice;
        if (chosen_filter_index)
            od.filter_index = *chosen_filter_index;
        return true;
    }
    void ShowStandardError(const std::string& message) override {
        errors.push_back(message);
        Record("error:" + message);
    }

    // Scripted answers.
    std::deque<bool> answers;                             // Yes/No questions
    std::deque<std::optional<std::string>> file_choices;  // nullopt = cancel
    std::optional<int> chosen_filter_index;               // filter index the "operator" leaves
    std::function<void()> on_process;                     // runs inside ProcessMessages

    // Observations.
    std::vector<std::string> log;
    std::vector<std::string> information;
    std::vector<std::string> questions;
    std::vector<std::string> errors;
    std::vector<OpenFileDialog> shown_dialogs;
    OpenFileDialog od;
    bool window_enabled = true;
    std::int16_t cursor = kCursorDefault;
    int processed = 0;

  private:
    void Record(std::string entry) { log.push_back(std::move(entry)); }
    std::map<Field, std::string> texts_;
    bool exec_enabled_ = false;
};

}  // namespace tallo::testing
