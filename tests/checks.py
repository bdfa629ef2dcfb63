"""What the test scripts share: problems collected as they are found, and the
closing line and exit status that report them."""
problems = []


def problem(text):
    problems.append(text)


def check(what, got, want):
    if got != want:
        problem(f"{what}: got {got!r:.300}, want {want!r:.300}")


def finish():
    for text in problems:
        print("FAIL", text)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0
