#ifndef FLEETDIALOGSCENE_H
#define FLEETDIALOGSCENE_H

#include "fleetdialog.h"
#include "fleettransport.h"
#include "manualfleetclock.h"

#include <QTemporaryDir>

#include <memory>

// A fleet dialog in a made-up run, for the screenshot: rows in most states,
// fed to the engine as reports on a clock moved by hand. No datagram leaves
// and the served folder is a temporary one. GUI thread.
class FleetDialogScene
{
public:
    enum class Moment {
        // Downloads under way, some devices done or failed.
        MidRun,
        // Stopped with nine failures and devices left unstarted: the long
        // summary.
        Stopped,
    };

    explicit FleetDialogScene(Moment moment);
    ~FleetDialogScene();

    FleetDialog &dialog() { return *fleet_dialog; }

private:
    // On one made-up network.
    class SilentTransport : public FleetTransport
    {
    public:
        QList<QNetworkAddressEntry> address_entries() const override;
        bool send_datagram(const QByteArray &, const QHostAddress &, quint16) override
        {
            return true;
        }
    };

    void play();
    void play_stopped();

    QTemporaryDir served;
    ManualFleetClock clock;
    SilentTransport transport;
    std::unique_ptr<FleetDialog> fleet_dialog;
};

#endif // FLEETDIALOGSCENE_H
