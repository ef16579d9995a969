#include "alarms/AlarmSound.h"

#include <canberra.h>

#include <string>

#include "traffic/Trace.h"

namespace {

constexpr int kRepeatMs = 3000;  // the theme's alarm lasts about two seconds
constexpr uint32_t kSoundId = 1;
constexpr char kEvent[] = "alarm-clock-elapsed";

}  // namespace

CAlarmSound::CAlarmSound(QObject* parent) : QObject(parent) {
  m_repeat.setInterval(kRepeatMs);
  connect(&m_repeat, &QTimer::timeout, this, &CAlarmSound::Play);
}

CAlarmSound::~CAlarmSound() {
  if (m_pContext) ca_context_destroy(m_pContext);
}

void CAlarmSound::SetEnabled(bool on) {
  m_bEnabled = on;
  Update();
}

void CAlarmSound::SetWanted(bool wanted) {
  m_bWanted = wanted;
  Update();
}

void CAlarmSound::Update() {
  const bool play = m_bEnabled && m_bWanted;
  if (play == m_repeat.isActive()) return;
  if (!play) {
    m_repeat.stop();
    Cancel();
    return;
  }
  m_repeat.start();
  Play();
}

void CAlarmSound::Play() {
  ++m_nPlays;
  if (m_bBroken) return;
  int error = CA_SUCCESS;
  if (!m_pContext) {
    error = ca_context_create(&m_pContext);
    // The desktop's sound server only: the bare sound card's library would
    // write its own complaints to standard error on a machine without one.
    if (error == CA_SUCCESS) error = ca_context_set_driver(m_pContext, "pulse");
    if (error == CA_SUCCESS)
      error = ca_context_change_props(m_pContext, CA_PROP_APPLICATION_NAME, "QD7420",
                                      CA_PROP_APPLICATION_ID, "qd7420", nullptr);
  }
  if (error == CA_SUCCESS)
    error = ca_context_play(m_pContext, kSoundId, CA_PROP_EVENT_ID, kEvent,
                            CA_PROP_EVENT_DESCRIPTION, "水浸告警", nullptr);
  if (error == CA_SUCCESS) return;
  // No device, no server or no theme: once said, then silence; the alarm
  // still shows and notifies.
  m_bBroken = true;
  TraceNote(std::string("alarm sound unavailable: ") + ca_strerror(error));
}

void CAlarmSound::Cancel() {
  if (m_pContext && !m_bBroken) ca_context_cancel(m_pContext, kSoundId);
}
