// How far the window's work has come: the files converted (or failed) since
// the window last had nothing to do, out of those plus the ones still to go.
// Drops made while work is pending join the count; once everything is done
// it starts afresh.
#pragma once

#include <QString>
#include <cstddef>

namespace quorvex::gui {

class BatchProgress {
  public:
    void jobEnded() { ++m_done; }
    // The jobs still to end: queued, converting or waiting. None ends the
    // run of work.
    void setOutstanding(std::size_t jobs);

    bool running() const { return m_outstanding > 0; }
    std::size_t done() const { return m_done; }
    std::size_t total() const { return m_done + m_outstanding; }

    // "Title — 121 of 300" while work is pending, otherwise the title alone.
    QString title(const QString& plainTitle) const;

  private:
    std::size_t m_done = 0;
    std::size_t m_outstanding = 0;
};

}  // namespace quorvex::gui
