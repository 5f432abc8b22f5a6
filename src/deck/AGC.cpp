#include "AGC.h"

CAutoGainControl::CAutoGainControl()
    : m_uiSampleCount(0),
      m_fEnergy(0.0f),
      m_fGain(1.0f),
      m_fGainStep(0.0f),
      m_uiRampBlocks(0),
      m_bEnabled(false),
      m_fTargetLevelDb(0.0f),
      m_uiAttackSamples(0),
      m_uiDelaySamples(0) {}

int CAutoGainControl::enableAGC(bool on) {
    m_uiSampleCount = 0;
    m_fEnergy = 0.0f;
    m_fGainStep = 0.0f;
    m_uiRampBlocks = 0;
    m_fGain = 1.0f;
    m_bEnabled = on;
    return 1;
}
