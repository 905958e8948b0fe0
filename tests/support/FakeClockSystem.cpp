#include "FakeClockSystem.h"

TFakeClockSystem::TFakeClockSystem()
    : m_base(ISystem::Instance()), m_replaced(ISystem::Install(this)) {}

TFakeClockSystem::~TFakeClockSystem() { ISystem::Install(m_replaced); }

ITimer* TFakeClockSystem::CreateTimer(unsigned long milliseconds) {
    ++m_timersCreated;
    return new TFakeTimer(m_clock, milliseconds);
}

void TFakeClockSystem::Wait(unsigned long milliseconds) { m_clock.Advance(milliseconds); }

void TFakeClockSystem::Idle() {}

void TFakeClockSystem::Init() { m_base->Init(); }

void TFakeClockSystem::Shutdown() { m_base->Shutdown(); }

Error TFakeClockSystem::Restart() { return m_base->Restart(); }

Error TFakeClockSystem::UpdateSoftware(const char* fileName) {
    return m_base->UpdateSoftware(fileName);
}

IDeviceLayer* TFakeClockSystem::GetDeviceLayer() { return m_base->GetDeviceLayer(); }

Error TFakeClockSystem::SetDateTime(unsigned long date, unsigned long time) {
    return m_base->SetDateTime(date, time);
}

Error TFakeClockSystem::GetDateTime(unsigned long* date, unsigned long* time) {
    return m_base->GetDateTime(date, time);
}

Error TFakeClockSystem::GenerateRandom(unsigned char* buffer) {
    return m_base->GenerateRandom(buffer);
}

Error TFakeClockSystem::MountFileSystem(const char* name, IFileSystem** fileSystem) {
    return m_base->MountFileSystem(name, fileSystem);
}

Error TFakeClockSystem::UnmountFileSystem(IFileSystem* fileSystem) {
    return m_base->UnmountFileSystem(fileSystem);
}

IFileSystem* TFakeClockSystem::GetDefaultFileSystem() { return m_base->GetDefaultFileSystem(); }

void TFakeClockSystem::FillModelName(char* buffer, unsigned int size) {
    m_base->FillModelName(buffer, size);
}

void TFakeClockSystem::FillOsVersion(char* buffer, unsigned int size) {
    m_base->FillOsVersion(buffer, size);
}

void TFakeClockSystem::GetScreenSize(unsigned short& width, unsigned short& height, bool& color) {
    m_base->GetScreenSize(width, height, color);
}

void TFakeClockSystem::StartInDebugMode() { m_base->StartInDebugMode(); }

Error TFakeClockSystem::OpenSystemOptions() { return m_base->OpenSystemOptions(); }

Error TFakeClockSystem::GetSerialNumber(char* buffer, unsigned int size) {
    return m_base->GetSerialNumber(buffer, size);
}

void TFakeClockSystem::SetBacklight(bool on) { m_base->SetBacklight(on); }
