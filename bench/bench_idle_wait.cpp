// CPU the tool's process spends while an exchange waits for a reply that never comes, and while
// the boot scan waits for a phone; plus the cost of one in-process exchange. Not a test: prints
// figures.

#include "link/link.h"
#include "link/protocol.h"
#include "simphone.h"
#include "simport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

// A line with nobody behind it.
class SilentPort final : public x45::SerialPort {
public:
    void setPortName(const QString& name) override { name_ = name; }
    [[nodiscard]] QString portName() const override { return name_; }
    void setSettings(const x45::PortSettings&) override {}
    [[nodiscard]] qint32 baudRate() const override { return 115200; }
    bool open(QString*) override { return open_ = true; }
    void close() override { open_ = false; }
    [[nodiscard]] bool isOpen() const override { return open_; }
    void discard() override {}
    [[nodiscard]] qint64 bytesAvailable() const override { return 0; }
    QByteArray read(qint64) override { return {}; }
    void write(const QByteArray&) override {}
    bool waitForReadyRead(std::chrono::milliseconds timeout) override {
        if (open_) std::this_thread::sleep_for(timeout);
        return false;
    }

private:
    QString name_ = QStringLiteral("silent");
    bool open_ = false;
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void report(const char* what, double cpu, qint64 wallMs) {
    std::printf("%-44s wall %6lld ms  cpu %7.3f ms  (%.4f%% of one core)\n", what,
                static_cast<long long>(wallMs), cpu * 1000, 100.0 * cpu * 1000 / double(wallMs));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SilentPort silent;
    QString error;
    silent.open(&error);
    x45::Link link(silent);

    {
        QElapsedTimer t;
        t.start();
        const double c0 = cpuSeconds();
        (void)link.query({x45::proto::ModelQuery, {}, 5000ms, 1});
        report("WaitReply 5000 ms, no reply", cpuSeconds() - c0, t.elapsed());
    }
    {
        QElapsedTimer t;
        t.start();
        const double c0 = cpuSeconds();
        for (int i = 0; i < 50; ++i) {
            silent.write(QByteArray(1, '\x55'));
            link.pause(x45::proto::ScanPause);
        }
        report("scan: 50 pauses of 100 ms", cpuSeconds() - c0, t.elapsed());
    }
    {
        // Exchanges against the in-process phone: the tool's own overhead per request.
        x45sim::SimPhone phone;
        x45sim::SimPort port(phone);
        x45::Link fast(port);
        port.open(&error);
        port.write(QByteArray(1, '\x55'));
        fast.pause(20ms);
        port.read(0);
        QByteArray boot(1, '\x68');
        boot += x45sim::serviceBootImage();
        port.write(boot);
        port.write(QByteArray(1, '\xFE'));
        fast.pause(20ms);
        port.read(0);
        const int n = 2000;
        int good = 0;
        x45::Query chipset{x45::proto::ChipsetQuery, {}, 500ms, 1};
        chipset.rule.cmd = x45::proto::ChipsetCmd;
        chipset.rule.wholeFrame = false;
        x45::Query sw{x45::proto::SWQuery, {}, 500ms, 1};
        sw.rule.cmd = x45::proto::InfoCmd;
        sw.rule.wholeFrame = false;
        QElapsedTimer t;
        t.start();
        const double c0 = cpuSeconds();
        for (int i = 0; i < n; ++i) {
            good += fast.query(chipset).isOk() ? 1 : 0;
            good += fast.query(sw).isOk() ? 1 : 0; // a different request: no resend shortcut
        }
        const qint64 ms = t.elapsed();
        const double cpu = cpuSeconds() - c0;
        std::printf("%d in-process exchanges (%d complete): %.1f us each, cpu %.1f us each\n",
                    2 * n, good, 1000.0 * double(ms) / (2 * n), 1e6 * cpu / (2 * n));
    }
    return 0;
}
