#pragma once
// Records every message the code under test shows, and answers with the queued answers (IDOK when
// none are queued). Installs itself for its lifetime.
#include "ui/Message.h"

#include <deque>
#include <string>
#include <vector>

class CCapturingMessageSink : public CMessageSink {
public:
    struct Shown {
        std::string text;
        unsigned type;
    };

    CCapturingMessageSink() : m_previous(SetMessageSink(this)) {}
    ~CCapturingMessageSink() override { SetMessageSink(m_previous); }

    int Show(const std::string& textUtf8, unsigned type) override
    {
        shown.push_back({textUtf8, type});
        if (answers.empty())
            return IDOK;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Shown& s : shown)
            texts.push_back(s.text);
        return texts;
    }

    std::vector<Shown> shown;
    std::deque<int> answers;

private:
    CMessageSink* m_previous;
};
