#include "fleetdevice.h"

QString FleetDevice::state_name(State state)
{
    switch (state) {
    case State::Listed:
        return QStringLiteral("listed");
    case State::CommandSent:
        return QStringLiteral("command sent");
    case State::HeadersAsked:
        return QStringLiteral("headers asked");
    case State::Downloading:
        return QStringLiteral("downloading");
    case State::FileSent:
        return QStringLiteral("file sent");
    case State::Interrupted:
        return QStringLiteral("interrupted");
    case State::NoAnswer:
        return QStringLiteral("no answer");
    case State::NotFound:
        return QStringLiteral("not found");
    case State::Back:
        return QStringLiteral("back");
    case State::NotBack:
        return QStringLiteral("not back");
    case State::NotStarted:
        return QStringLiteral("not started");
    case State::UpToDate:
        return QStringLiteral("up to date");
    case State::NotUpgraded:
        return QStringLiteral("not upgraded");
    }
    return QString();
}

bool FleetDevice::is_active(State state)
{
    return state == State::CommandSent || state == State::HeadersAsked
            || state == State::Downloading;
}
