#pragma once

#include <QDialog>
#include <QTimer>

#include <atomic>

class QLabel;

// "Connecting to MS SQL server. Please wait...": an eight-frame animation shown while a worker
// connects. The worker closes it; an attempt that ended before the dialog opened closes it as
// soon as it opens.
class wait_dlg : public QDialog {
public:
    enum { dialog = 101, id_image = 1301, first_frame_id = 502, frame_count = 8 };

    wait_dlg(int period_ms, QWidget* parent);

    // From the worker, as its last action: stops the animation and closes the dialog.
    void finish();
    int frame() const { return m_frame; }

protected:
    void showEvent(QShowEvent* event) override;
    // Escape does not close it: the page waits for the worker.
    void reject() override {}

private:
    void tick();
    void close_if_done();

    QLabel* m_image;
    QTimer m_timer;
    int m_period;
    int m_frame = 0;
    std::atomic<bool> m_done{false};
};

// Registers the animation's frames (ids 502 to 509) with the program's images.
void wait_dlg_register_images();
