"""The page as a person sees it, for the browser tests and the page's
benchmark: the elements, the tree's rows, the status lines' outcomes, and
what the sim was called with and the gateway saved. Import staging first:
it skips (77) when the browser is missing."""
import os

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

TRAILER = "<clip>\n  <title>Trailer</title>\n  <rating>PG</rating>\n</clip>"
# Metadata that would run or show markup if the page let it in as HTML.
HOSTILE = ('<b>bold</b><script>window.corvanePwned = 1</script>'
           '<img src="x" onerror="window.corvanePwned = 2">')

# A status line's outcome, if it shows one it did not show at the last check;
# the outcome is then marked as checked. Checking and marking happen in one
# step in the page, so nothing can change between them.
FRESH = """const s = document.querySelector(arguments[0]);
if (s.className === 'status busy' || !s.firstChild || s.firstChild === s.corvaneChecked) return null;
s.corvaneChecked = s.firstChild;
return [s.className, s.textContent];"""
# What the tree's rows in the page show: level, name, kind text, expanded,
# position and set size.
ROWS = """return [...document.querySelectorAll('#tree [role=treeitem]')].map((r) => [
  Number(r.getAttribute('aria-level')), r.querySelector('.name').textContent, r.querySelector('.kind').textContent,
  r.getAttribute('aria-expanded'), Number(r.getAttribute('aria-posinset')), Number(r.getAttribute('aria-setsize'))]);"""
# Times, in the page, from the next mouse press to the first row of the
# folder arguments[0] being in the page and inside the tree's view.
TIME_OPEN = """const view = document.getElementById('tree'), first = arguments[0];
window.corvaneOpenMs = null;
document.addEventListener('mousedown', () => { window.corvanePressed = performance.now(); },
                          { capture: true, once: true });
const seen = () => {
  const row = [...view.querySelectorAll('[role=treeitem]')].find((r) => r.dataset.id === first);
  if (!row) return false;
  const a = row.getBoundingClientRect(), b = view.getBoundingClientRect();
  return a.top >= b.top && a.bottom <= b.bottom && a.height > 0;
};
new MutationObserver((_, observer) => {
  if (!seen()) return;
  window.corvaneOpenMs = performance.now() - window.corvanePressed;
  observer.disconnect();
}).observe(view, { childList: true, subtree: true, attributes: true });"""


def big_tree(source, work, count):
    """A tree file for the sim: the demo tree and a folder /big of count
    clips, /big/c00000 first."""
    path = os.path.join(work, "tree.txt")
    with open(os.path.join(source, "sim", "demo-tree.txt")) as demo, open(path, "w") as out:
        out.write(demo.read())
        out.write("node /big FOLDER Big\n")
        out.writelines(f"node /big/c{i:05d} CLIP Clip {i:05d}\n" for i in range(count))
    return path


def xpath(text):
    return "concat('', " + ", \"'\", ".join(f"'{part}'" for part in text.split("'")) + ")"


class Page:
    """The page in driver, served from the scratch folder work."""

    def __init__(self, driver, work):
        self.d, self.work = driver, work

    def el(self, css):
        return self.d.find_element(By.CSS_SELECTOR, css)

    def type(self, css, text):
        self.el(css).clear()
        self.el(css).send_keys(text)

    def text(self, css):
        return self.el(css).get_property("textContent")

    def until(self, what, condition, timeout=30):
        return WebDriverWait(self.d, timeout).until(lambda _: condition(), f"waiting for {what}")

    def keys(self, *keys):
        for key in keys:
            ActionChains(self.d).send_keys(key).perform()

    def busy(self, css):
        return "busy" in self.el(css).get_attribute("class")

    def fresh(self, css, what):
        """Waits for the status line at css to show a new outcome: a click may
        take effect a task later (a dialog's close event does), and the last
        outcome must not pass for its answer. Returns the class and the text."""
        return self.until(what, lambda: self.d.execute_script(FRESH, css))

    def outcome(self, form, text, kind="ok"):
        """Waits for the status line of the form at css form to show a new
        outcome, and checks its kind and words."""
        shown = self.fresh(f"{form} > .status", f"{form} to answer")
        assert shown == [f"status {kind}", text], shown

    def remembered(self):
        """Waits for the page to say it saved the preferences of a read."""
        shown = self.fresh("#prefs-status", "the preferences saved")
        assert shown[0] == "status ok" and shown[1].startswith("Server, nodes"), shown

    def saved(self):
        """The user's document as the gateway keeps it, '' before any save."""
        path = os.path.join(self.work, "var/lib/corvane-gateway/account/demo.xml")
        return open(path).read() if os.path.exists(path) else ""

    def calls(self, method=""):
        """The sim's calls of a method, or all of them."""
        with open(os.path.join(self.work, "calls")) as log:
            return [line.rstrip("\n") for line in log if not method or line.startswith(method + " ")]

    def metadata(self):
        """The texts of the editors under More."""
        return [t.get_property("value") for t in self.d.find_elements(By.CSS_SELECTOR, "#results textarea")]

    # The tree.

    def rows(self):
        return [tuple(r) for r in self.d.execute_script(ROWS)]

    def names(self):
        return [r[1] for r in self.rows()]

    def row(self, name):
        return self.d.find_element(By.XPATH, f"//*[@role='treeitem'][span[@class='name'][.={xpath(name)}]]")

    def twisty(self, name):
        self.row(name).find_element(By.CLASS_NAME, "twisty").click()

    def focused(self):
        return self.d.execute_script(
            "const e = document.activeElement; return e.getAttribute('role') === 'treeitem'"
            " ? e.querySelector('.name').textContent : null")

    def shown(self, name):
        """Waits for the details of the node called name."""
        self.until(f"the details of {name}", lambda: self.text("#details-heading") == name
                   and self.text("#node-children") != "" and not self.busy("#details-status"))

    def open_timed(self, name, first_id):
        """Opens the folder called name by its triangle; the milliseconds,
        measured in the page, from the click to its first child, first_id,
        in view."""
        self.d.execute_script(TIME_OPEN, first_id)
        self.twisty(name)
        return self.until(f"{name} open", lambda: self.d.execute_script("return window.corvaneOpenMs"))
