"""Calls on several Python threads at once, each with its own frame size and
camera, give the results of one thread, to the bit."""

import concurrent.futures
import random

import numpy as np

import morvex


def jobs(make_scene):
    """Score and conversion calls on frames of three sizes, each with the
    scene's camera and with another one."""
    calls = []
    for size in ((96, 64), (130, 74), (64, 48)):
        scene = make_scene(*size)
        camera = morvex.Camera.from_file(scene.camera_path)
        values = [camera.near_depth_left, camera.far_depth_left, camera.near_depth_right, camera.far_depth_right,
                  camera.focal_length * 1.5, camera.principal_point_left + 2, camera.principal_point_right - 1,
                  camera.position_left, camera.position_right]
        for camera in (camera, values):
            for k in range(2):
                images = scene.frames(k)
                calls.append((morvex.score, (*images, camera)))
                calls.append((morvex.depth_to_disparity, (images[4], camera, "R")))
    return calls


def outcome(call, args):
    result = call(*args)
    if isinstance(result, np.ndarray):
        return result.tobytes()
    return (result.score, result.score_text, result.left.error, result.right.error, result.left.counted_pixels,
            result.right.counted_pixels, result.left.disagreeing_pixels, result.right.disagreeing_pixels)


def test_threads_give_the_results_of_one_thread(make_scene):
    calls = jobs(make_scene)
    expected = [outcome(call, args) for call, args in calls]
    order = list(range(len(calls))) * 3
    random.Random(5).shuffle(order)
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        results = list(pool.map(lambda i: outcome(*calls[i]), order))
    for i, result in zip(order, results):
        assert result == expected[i], calls[i]
    # The second camera does change the results.
    assert expected[0] != expected[4]
