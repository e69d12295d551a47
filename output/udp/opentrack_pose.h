#pragma once
// The pose datagram of opentrack's "UDP over network" input: six
// little-endian IEEE 754 doubles x, y, z (cm), yaw, pitch, roll (degrees),
// 48 bytes. The bridge has no position, so x, y and z are 0.
//
// opentrack's angles: yaw positive turning right, pitch positive looking up,
// roll positive with the top leaning left, applied in that order (yaw about
// the vertical, then pitch, then roll about the line of sight).
//
// The device's axes, as the air mouse reads them: the third axis points at
// the screen, a turn about the second moves the cursor sideways, a turn about
// the first moves it up and down. So that yaw and pitch follow the cursor:
//   +t about the first axis  -> pitch +t
//   +t about the second axis -> yaw   -t
//   +t about the third axis  -> roll  +t

#include <cstddef>

inline constexpr size_t opentrackPoseSize = 48;

struct HeadAngles {
    double yaw;
    double pitch;
    double roll;
};

// The angles of the rotation q = (x, y, z, w) (w the scalar part; need not be
// of unit length). A quaternion without length gives not-a-number angles.
HeadAngles headAnglesOf(const float q[4]);

// x, y, z = 0 and the angles, as 48 little-endian bytes on any host.
void encodeOpentrackPose(const HeadAngles& angles, unsigned char out[opentrackPoseSize]);
