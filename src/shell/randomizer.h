// The two random pattern generators.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "core/draws.h"

namespace zb {

class Form1;

class Randomizer : public QObject {
    Q_OBJECT
public:
    // Wires Command1 and Command2. Draws come from a default-seeded standard generator, so
    // every start of the program repeats the same patterns.
    explicit Randomizer(Form1& form);

    void Command1_Click();
    void Command2_Click();

    // Replaces the random source (tests script the draws).
    void setSource(std::unique_ptr<rnd::RandomSource> source) { source_ = std::move(source); }

private:
    void drawSelectorsFor(int voice);
    // Stops the loop, draws every loaded voice anew and plays again; nothing while an
    // export runs.
    void redraw(const std::function<void(int)>& drawVoice);

    Form1& form_;
    std::unique_ptr<rnd::RandomSource> source_;
};

}  // namespace zb
