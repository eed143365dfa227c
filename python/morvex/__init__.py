"""morvex: the score of depth maps of a stereo pair, on numpy arrays or on
files read as the command line reads them, with the library the command line
runs; morvex.eval evaluates whole datasets."""

from ._native import (Camera, InputError, InputFrames, PairInputs, Result, ViewResult, __version__,
                      combine_view_errors, depth_to_disparity, disparity_to_depth, error_heatmap, evaluate_view,
                      open_input, pattern_file, read_image, score)

__all__ = ["Camera", "InputError", "InputFrames", "PairInputs", "Result", "ViewResult", "combine_view_errors",
           "depth_to_disparity", "disparity_to_depth", "error_heatmap", "evaluate_view", "open_input",
           "pattern_file", "read_image", "score"]
