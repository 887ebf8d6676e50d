#pragma once
// Keeps the machine from idle sleep while help requests are accepted and it runs on AC
// power: unplugging lets go of the assertion at the next power-source change, plugging
// in takes it again. Sessions do not touch it. Main thread only.

#include <QObject>

#include <cstdint>
#include <memory>

namespace wl {

class PowerManagement;

class KeepAwake final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kAssertionName = "Wickerlane is ready for help requests";

    explicit KeepAwake(std::shared_ptr<PowerManagement> power, QObject* parent = nullptr);
    ~KeepAwake() override;

    // Records the wish, watches the power source while wanted, and updates.
    void start(bool wanted);
    // Takes or lets go of the assertion to match the wish and the power source.
    void update();
    bool isOnACPower();

    bool wanted() const { return wanted_; }
    bool holdsAssertion() const { return assertion_ != 0; }
    bool watchesPowerSource() const { return watching_; }

private:
    PowerManagement& power();

    const std::shared_ptr<PowerManagement> power_;
    bool wanted_ = false;
    std::uint32_t assertion_ = 0;
    bool watching_ = false;
};

} // namespace wl
