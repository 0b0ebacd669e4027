// The two random pattern generators.
//
// Threads: UI thread only.
#pragma once

#include <QObject>

namespace zb {

class Form1;

class Randomizer : public QObject {
    Q_OBJECT
public:
    explicit Randomizer(Form1& form);

    void Command1_Click();
    void Command2_Click();

private:
    Form1& form_;
};

}  // namespace zb
