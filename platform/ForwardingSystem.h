#pragma once

#include "platform/System.h"

// A system that passes every operation on to another one. Programs and tests
// that change a few services (a device layer with extra devices, a clock of
// their own) derive from it, replace those operations, and install the result
// with ISystem::Install.
class TForwardingSystem : public ISystem {
  public:
    explicit TForwardingSystem(ISystem* target) : target_(target) {}

    void Init() override { target_->Init(); }
    void Shutdown() override { target_->Shutdown(); }
    Error Restart() override { return target_->Restart(); }
    Error UpdateSoftware(const char* fileName) override {
        return target_->UpdateSoftware(fileName);
    }
    IDeviceLayer* GetDeviceLayer() override { return target_->GetDeviceLayer(); }
    Error SetDateTime(unsigned long date, unsigned long time) override {
        return target_->SetDateTime(date, time);
    }
    Error GetDateTime(unsigned long* date, unsigned long* time) override {
        return target_->GetDateTime(date, time);
    }
    ITimer* CreateTimer(unsigned long milliseconds) override {
        return target_->CreateTimer(milliseconds);
    }
    void Wait(unsigned long milliseconds) override { target_->Wait(milliseconds); }
    Error GenerateRandom(unsigned char* buffer) override { return target_->GenerateRandom(buffer); }
    void Idle() override { target_->Idle(); }
    Error MountFileSystem(const char* name, IFileSystem** fileSystem) override {
        return target_->MountFileSystem(name, fileSystem);
    }
    Error UnmountFileSystem(IFileSystem* fileSystem) override {
        return target_->UnmountFileSystem(fileSystem);
    }
    IFileSystem* GetDefaultFileSystem() override { return target_->GetDefaultFileSystem(); }
    void FillModelName(char* buffer, unsigned int size) override {
        target_->FillModelName(buffer, size);
    }
    void FillOsVersion(char* buffer, unsigned int size) override {
        target_->FillOsVersion(buffer, size);
    }
    void GetScreenSize(unsigned short& width, unsigned short& height, bool& color) override {
        target_->GetScreenSize(width, height, color);
    }
    void StartInDebugMode() override { target_->StartInDebugMode(); }
    Error OpenSystemOptions() override { return target_->OpenSystemOptions(); }
    Error GetSerialNumber(char* buffer, unsigned int size) override {
        return target_->GetSerialNumber(buffer, size);
    }
    void SetBacklight(bool on) override { target_->SetBacklight(on); }

  protected:
    ISystem* Target() const { return target_; }

  private:
    ISystem* target_;
};

// Makes a system what ISystem::Instance() returns for the life of this
// object, then puts the one before it back.
class TSystemInstallation {
  public:
    explicit TSystemInstallation(ISystem* system) : previous_(ISystem::Install(system)) {}
    ~TSystemInstallation() { ISystem::Install(previous_); }
    TSystemInstallation(const TSystemInstallation&) = delete;
    TSystemInstallation& operator=(const TSystemInstallation&) = delete;

  private:
    ISystem* previous_;
};
