#pragma once

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>

class QLabel;

// "Connecting to MS SQL server. Please wait...": an eight-frame animation shown while a worker
// connects (or runs another job), with Cancel. The worker's end closes it; an end that came
// before the dialog opened closes it as soon as it opens.
class wait_dlg : public QDialog {
public:
    enum {
        dialog = 101,
        id_image = 1301,
        id_text = 1302,
        id_cancel = 2,
        first_frame_id = 502,
        frame_count = 8,
        default_period_ms = 500,
        // The result of Cancel and Escape; the worker's end closes with 0.
        cancelled = 2,
    };

    wait_dlg(int period_ms, QWidget* parent,
             const QString& text = QStringLiteral("Connecting to MS SQL server. Please wait..."));

    // From any thread: stops the animation and closes the dialog.
    void finish();
    // Looked at when the dialog opens and on every tick: the end of the work it waits for.
    void set_end_check(std::function<bool()> ended) { m_end_check = std::move(ended); }
    int frame() const { return m_frame; }

protected:
    void showEvent(QShowEvent* event) override;
    // Escape and the Cancel button: the caller stops waiting at once.
    void reject() override;

private:
    void tick();
    void close_if_done();
    bool done_now() const { return m_done || (m_end_check && m_end_check()); }

    QLabel* m_image;
    QTimer m_timer;
    int m_period;
    int m_frame = 0;
    std::atomic<bool> m_done{false};
    std::function<bool()> m_end_check;
};

// Registers the animation's frames (ids 502 to 509) with the program's images.
void wait_dlg_register_images();
