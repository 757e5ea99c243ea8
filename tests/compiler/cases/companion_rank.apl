⍝ The APL text of the library's rank operator, compiled, against the built-in one
⍝ MAIN: RANKS
∇RANKS;M;V
M←2 3⍴⍳6
V←10 20 30
⎕←(⊂ RANKOP 1) M
⎕←(⊂⍤1) M
⎕←V (+ RANKOP 1) M
⎕←V (+⍤1) M
⎕←(⌽ RANKOP 1) M
⎕←(⌽⍤1) M
∇
∇Z←L (F RANKOP X) R
→(0≠⎕NC 'L')/4
Z←⊃ F¨ ⊂[(-X)↑⍳⍴⍴R] R
→0
Z←⊃ (⊂[(-↑X)↑⍳⍴⍴L] L) F¨ ⊂[(-¯1↑X)↑⍳⍴⍴R] R
∇
