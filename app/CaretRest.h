#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>

namespace camwarden {

// Stops the text caret blinking once the user has left the program alone
// for a while, as GTK desktops do, and lets it blink again at the next key
// or click. A window left open and focused for days would otherwise wake
// twice a second for the caret alone.
class CaretRest : public QObject {
public:
    explicit CaretRest(std::chrono::milliseconds after = std::chrono::seconds(10));
    ~CaretRest() override;
    CaretRest(const CaretRest&) = delete;
    CaretRest& operator=(const CaretRest&) = delete;

    bool Resting() const { return resting_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Rest();

    QTimer idle_;
    int flashTime_;
    bool resting_ = false;
};

}  // namespace camwarden
