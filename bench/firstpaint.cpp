// Built into each program that bench_startup starts: at the first paint
// event of any widget it prints the steady clock's time in nanoseconds and
// ends the program, for what comes after the first frame is not measured.
#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::printf("%lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }
};

// Runs inside the application object's constructor, before main() goes on.
void watchForFirstPaint()
{
    QCoreApplication::instance()->installEventFilter(new FirstPaint);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForFirstPaint)
